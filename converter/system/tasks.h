#pragma once

// Work started on another thread at once, as std::async(std::launch::async) starts it, but on a
// thread kept from earlier work where one is idle: readers start work for every slab or slice
// they read ahead, and a new thread for each costs about as much as reading a small slice.

#include <functional>
#include <future>
#include <memory>
#include <type_traits>
#include <utility>

// Runs job on a kept thread that is idle, or on a new one that is kept once the job ends; where
// no thread can be started, at once, here, as the sanitized build always does. A forked child
// starts with no kept threads.
void runOnKeptThread(std::function<void()> job);

// Whether work may run on another thread while this one goes on: not in the sanitized build, where
// a contained child forked meanwhile could find the allocator's lock held for ever.
bool threadsRunBeside();

// Runs work(t) for every t in [0, count), each on a thread of its own started for it, and
// returns when all have ended. Where no more threads can be started, the rest run here, one
// after another, once the first has: work(t) must not wait for another t.
void runOnThreads(unsigned count, const std::function<void(unsigned)>& work);

// The result of work started by startTask. As with std::async, a task that is still running is
// waited for when it is destroyed or assigned over, so that it never outlives the buffers it
// writes.
template <typename Result> class Task {
public:
    Task() = default;
    explicit Task(std::future<Result> future) : future_(std::move(future)) {}
    Task(Task&&) noexcept = default;
    Task& operator=(Task&& other) noexcept {
        wait();
        future_ = std::move(other.future_);
        return *this;
    }
    ~Task() { wait(); }

    bool valid() const { return future_.valid(); }
    void wait() const {
        if (future_.valid())
            future_.wait();
    }
    // Whether the task has ended, waiting at most for `wait` while it runs.
    template <typename Duration> bool waitFor(Duration wait) const {
        return !future_.valid() || future_.wait_for(wait) == std::future_status::ready;
    }
    Result get() { return future_.get(); }

private:
    std::future<Result> future_;
};

// function(args...) on a kept thread; its result, or what it threw, through the task.
// function is copied into the task: pass std::cref(function) where a copy is dear, as for a slice
// reader, whose copy copies every reader and file list it wraps.
template <typename Function, typename... Args>
auto startTask(Function&& function, Args&&... args)
    -> Task<std::invoke_result_t<std::decay_t<Function>, std::decay_t<Args>...>> {
    using Result = std::invoke_result_t<std::decay_t<Function>, std::decay_t<Args>...>;
    auto work = std::make_shared<std::packaged_task<Result()>>(
        [function = std::forward<Function>(function),
         arguments = std::make_tuple(std::forward<Args>(args)...)]() mutable {
            return std::apply(function, std::move(arguments));
        });
    Task<Result> task(work->get_future());
    runOnKeptThread([work] { (*work)(); });
    return task;
}
