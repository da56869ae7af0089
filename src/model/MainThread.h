#pragma once

#include <functional>
#include <memory>
#include <utility>

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

#include "platform/MainQueue.h"

#if defined(__SANITIZE_THREAD__)
#define QB_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QB_TSAN 1
#endif
#endif

#ifdef QB_TSAN
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace qb::model {

namespace detail {

// Qt hands tasks between threads under its own locks, which ThreadSanitizer cannot see in a Qt that was not
// built for it. These mark the same hand-over for it; elsewhere they are nothing.
inline void handOver([[maybe_unused]] void* token) {
#ifdef QB_TSAN
    __tsan_release(token);
#endif
}
inline void takeOver([[maybe_unused]] void* token) {
#ifdef QB_TSAN
    __tsan_acquire(token);
#endif
}

}  // namespace detail

// Runs `task` later on the main thread, from any thread. Dropped when the application is already gone.
inline void postToMainThread(std::function<void()> task) {
    if (auto* app = QCoreApplication::instance()) {
        auto handed = std::make_shared<std::function<void()>>(std::move(task));
        detail::handOver(handed.get());
        QMetaObject::invokeMethod(
            app,
            [handed] {
                detail::takeOver(handed.get());
                (*handed)();
            },
            Qt::QueuedConnection);
    }
}

// Runs `task` later on the main thread with `owner`, if the owner still exists by then. The pointer is only
// copied here; it is read on the main thread, where the owner lives and dies.
template <class Owner, class Task>
void postGuarded(QPointer<Owner> owner, Task task) {
    postToMainThread([owner = std::move(owner), task = std::move(task)]() mutable {
        if (Owner* alive = owner.data()) {
            task(*alive);
        }
    });
}

// The main-thread hooks that network components take, over Qt's event loop.
inline platform::MainQueue qtMainQueue() {
    platform::MainQueue queue;
    queue.post = [](platform::MainQueue::Task task) { postToMainThread(std::move(task)); };
    queue.sync = [](platform::MainQueue::Task task) {
        if (auto* app = QCoreApplication::instance()) {
            int token = 0;
            detail::handOver(&token);
            QMetaObject::invokeMethod(
                app,
                [&] {
                    detail::takeOver(&token);
                    task();
                    detail::handOver(&token);
                },
                Qt::BlockingQueuedConnection);
            detail::takeOver(&token);
        }
    };
    return queue;
}

}  // namespace qb::model
