#include "tasks.h"
#include "sanitized.h"

#include <pthread.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

void runOnThreads(unsigned count, const std::function<void(unsigned)>& work) {
    std::vector<std::thread> threads;
    unsigned started = 1;
    try {
        for (; started < count; ++started)
            threads.emplace_back(work, started);
    } catch (const std::system_error&) {
        // No more threads to be had (the address space or the process count at its limit).
    }
    if (count > 0)
        work(0);
    for (unsigned t = started; t < count; ++t)
        work(t);
    for (std::thread& thread : threads)
        thread.join();
}

bool threadsRunBeside() {
#ifdef TESSARY_ASAN
    return false;
#else
    return true;
#endif
}

#ifdef TESSARY_ASAN
// AddressSanitizer's allocator (in the toolchains this builds with) is not fork-safe: a contained
// child forked while another thread holds its lock waits for it for ever. The sanitized build
// runs tasks on the calling thread, so that nothing allocates during a fork.
void runOnKeptThread(std::function<void()> job) {
    job();
}
#else
namespace {
struct KeptThreads {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> jobs;
    std::size_t idle = 0; // threads waiting for a job
};

// Never destroyed: kept threads still wait on it while the process ends.
KeptThreads* kept = new KeptThreads;

void serve(KeptThreads* threads) {
    std::unique_lock<std::mutex> lock(threads->mutex);
    for (;;) {
        while (threads->jobs.empty()) {
            ++threads->idle;
            threads->wake.wait(lock);
            --threads->idle;
        }
        std::function<void()> job = std::move(threads->jobs.front());
        threads->jobs.pop_front();
        lock.unlock();
        job();
        job = nullptr; // what it holds goes before the thread waits again
        lock.lock();
    }
}

// The child of a fork has none of its parent's threads, and the lock may have been held by one
// of them.
void forgetKeptThreads() {
    kept = new KeptThreads;
}

[[maybe_unused]] const int registered = pthread_atfork(nullptr, nullptr, forgetKeptThreads);
} // namespace

void runOnKeptThread(std::function<void()> job) {
    KeptThreads* threads = kept;
    std::unique_lock<std::mutex> lock(threads->mutex);
    // Every job queued needs a waiting thread of its own, or a new one.
    if (threads->jobs.size() < threads->idle) {
        threads->jobs.push_back(std::move(job));
        threads->wake.notify_one();
        return;
    }
    lock.unlock();
    std::thread worker;
    try {
        worker = std::thread(serve, threads);
    } catch (const std::system_error&) {
        // No thread to be had (the address space or the process count at its limit): the job
        // runs here, as in the sanitized build, rather than wait in the queue for ever.
        job();
        return;
    }
    // The new thread serves this job, or another thread that became idle meanwhile does.
    lock.lock();
    threads->jobs.push_back(std::move(job));
    threads->wake.notify_one();
    lock.unlock();
    worker.detach();
}
#endif
