#pragma once

#include <functional>
#include <utility>

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

#include "platform/MainQueue.h"

namespace qb::model {

// Runs `task` later on the main thread, from any thread. Dropped when the application is already gone.
inline void postToMainThread(std::function<void()> task) {
    if (auto* app = QCoreApplication::instance()) {
        QMetaObject::invokeMethod(app, std::move(task), Qt::QueuedConnection);
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
            QMetaObject::invokeMethod(app, std::move(task), Qt::BlockingQueuedConnection);
        }
    };
    return queue;
}

}  // namespace qb::model
