#pragma once

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/strand.hpp>

#include <thread>
#include <vector>

namespace qb::platform {

// A serial queue: handlers posted to one strand never run at the same time and run in order.
using Strand = asio::strand<asio::io_context::executor_type>;

// One io_context and the small pool of threads that runs it. All network work of the process runs here;
// each outgoing transfer and the transfer server get their own Strand.
//
// No exception ever leaves a pool thread: one that escapes a handler is reported on standard error and the
// thread runs on. The constructor starts the pool at once; a work guard keeps the threads idling while there is nothing
// to do. stop() (also run by the destructor) ends the pool and joins its threads; it must not be called
// from one of the pool's own threads.
class NetRuntime {
public:
    explicit NetRuntime(unsigned threadCount = 2);
    ~NetRuntime();
    NetRuntime(const NetRuntime&) = delete;
    NetRuntime& operator=(const NetRuntime&) = delete;

    // The process-wide runtime, created with two threads on first use and stopped at exit.
    static NetRuntime& shared();

    asio::io_context& context() { return context_; }
    asio::io_context::executor_type executor() { return context_.get_executor(); }
    Strand makeStrand() { return asio::make_strand(context_); }

    // Idempotent. Pending operations are abandoned, not completed.
    void stop();

private:
    void runContained();

    asio::io_context context_;
    asio::executor_work_guard<asio::io_context::executor_type> guard_;
    std::vector<std::thread> threads_;
};

}  // namespace qb::platform
