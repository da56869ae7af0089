#include "platform/NetRuntime.h"

#include <openssl/ssl.h>

#include <algorithm>

#include "platform/Contained.h"

namespace qb::platform {

NetRuntime::NetRuntime(unsigned threadCount)
    : context_(static_cast<int>(std::max(threadCount, 1U))), guard_(asio::make_work_guard(context_)) {
    // OpenSSL registers its exit-time cleanup when first initialised. Doing that here, before the pool
    // exists, orders that cleanup after this runtime's end: the pool threads exit (and free their
    // per-thread OpenSSL state) before OpenSSL itself goes away.
    OPENSSL_init_ssl(0, nullptr);
    threads_.reserve(std::max(threadCount, 1U));
    for (unsigned index = 0; index < std::max(threadCount, 1U); ++index)
        threads_.emplace_back([this] { runContained(); });
}

void NetRuntime::runContained() {
    // A handler that throws leaves run(); the thread reports it and goes on serving the rest. Each pass ends
    // either normally (the runtime stops) or with one more handler's exception.
    for (;;) {
        if (contained("network runtime handler", [this] { context_.run(); })) {
            return;
        }
    }
}

NetRuntime::~NetRuntime() {
    stop();
}

NetRuntime& NetRuntime::shared() {
    static NetRuntime runtime(2);
    return runtime;
}

void NetRuntime::stop() {
    guard_.reset();
    context_.stop();
    for (auto& thread : threads_) {
        // A pool thread that stops the runtime cannot wait for itself; it ends when its handler returns.
        if (thread.get_id() == std::this_thread::get_id())
            thread.detach();
        else if (thread.joinable())
            thread.join();
    }
    threads_.clear();
}

}  // namespace qb::platform
