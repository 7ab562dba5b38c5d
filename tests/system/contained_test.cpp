#include "contained.h"
#include "tasks.h"
#include "testsupport.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fstream>
#include <thread>

TEST(ContainedTest, CrashesMemoryBombsAndHangsEndOnlyTheChild) {
    const std::vector<unsigned char> big(3 << 20, 7); // more than a pipe holds at once
    const ContainmentLimits limits = {std::uint64_t(256) << 20, 2};
    const std::tuple<const char*, ContainedWork, ContainedEnd> cases[] = {
        {"done", [&](std::vector<unsigned char>* out) { return *out = big, ""; },
         ContainedEnd::Done},
        {"refused", [](std::vector<unsigned char>*) { return "no"; }, ContainedEnd::Refused},
        {"crash", [](std::vector<unsigned char>*) { return std::raise(SIGSEGV), ""; },
         ContainedEnd::Crashed},
        {"abort", [](std::vector<unsigned char>*) { return std::abort(), ""; },
         ContainedEnd::Crashed},
        {"hang",
         [](std::vector<unsigned char>*) {
             for (volatile unsigned i = 0;; i = i + 1) { // unsigned: wrapping is no overflow
             }
             return "";
         },
         ContainedEnd::TimedOut},
        {"memory",
         [](std::vector<unsigned char>* out) { return out->resize(std::size_t(1) << 30), ""; },
         ContainedEnd::OutOfMemory},
        // The limit counts CPU time: waiting past it is no fault, up to the wall-clock backstop.
        {"waits past the limit",
         [&](std::vector<unsigned char>* out) { return usleep(2500000), *out = big, ""; },
         ContainedEnd::Done},
        {"waits for ever",
         [](std::vector<unsigned char>*) {
             for (;;)
                 pause();
             return "";
         },
         ContainedEnd::TimedOut},
    };
    for (const auto& [name, work, end] : cases) {
        SCOPED_TRACE(name);
        if (end == ContainedEnd::OutOfMemory && !addressSpaceLimitWorks())
            continue; // the sanitizers' shadow memory leaves no address-space limit to test
        const ContainedResult result = runContained(work, limits);
        EXPECT_EQ(int(result.end), int(end)) << result.message;
        if (end == ContainedEnd::Done) {
            EXPECT_EQ(result.bytes, big);
        } else if (end == ContainedEnd::Refused) {
            EXPECT_EQ(result.message, "no");
        }
    }
    EXPECT_EQ(memorySizeText(std::uint64_t(4) << 30), "4 GB");
    EXPECT_EQ(memorySizeText(std::uint64_t(300) << 20), "300 MB");
}

TEST(ContainedTest, AChildEndsWithItsParent) {
    ScratchDir scratch;
    const pid_t parent = fork();
    ASSERT_GE(parent, 0);
    if (parent == 0) {
        runContained(
            [](std::vector<unsigned char>*) {
                std::ofstream("child.pid") << getpid() << std::endl;
                for (;;)
                    pause();
                return std::string();
            },
            {0, 60});
        _exit(0);
    }
    pid_t child = 0;
    for (int wait = 0; wait < 500 && child == 0; ++wait) {
        std::ifstream("child.pid") >> child;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_GT(child, 0);
    kill(parent, SIGKILL);
    waitpid(parent, nullptr, 0);
    // Gone, or a zombie waiting for whoever adopted it.
    auto running = [child] {
        std::ifstream stat("/proc/" + std::to_string(child) + "/stat");
        std::string pid, name, state;
        return bool(stat >> pid >> name >> state) && state != "Z";
    };
    for (int wait = 0; wait < 200 && running(); ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(running());
    if (running())
        kill(child, SIGKILL);
}

// Work on kept threads: a task still running is waited for when it goes or is assigned over (it
// may write into a buffer that goes with it), and a forked child, which has none of its parent's
// threads, starts tasks of its own.
TEST(TasksTest, RunningTasksAreWaitedForAndAChildStartsItsOwn) {
    std::atomic<int> ended{0};
    const auto slow = [&ended] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ++ended;
    };
    { Task<void> going = startTask(slow); }
    EXPECT_EQ(ended, 1);
    Task<void> assigned = startTask(slow);
    assigned = startTask([] {});
    EXPECT_EQ(ended, 2);
    EXPECT_EQ(startTask([](int a, int b) { return a * b; }, 6, 7).get(), 42);
    std::this_thread::sleep_for(std::chrono::milliseconds(20)); // the threads idle again
    const ContainedResult result = runContained(
        [](std::vector<unsigned char>*) {
            return startTask([] { return std::string("hi"); }).get();
        },
        {0, 5});
    EXPECT_EQ(result.end, ContainedEnd::Refused);
    EXPECT_EQ(result.message, "hi");
}

// Where no thread can be had, a task runs on the thread that starts it, tasks it starts too,
// rather than wait for ever for a thread: here a child whose address space leaves no room for a
// thread's stack.
TEST(TasksTest, WithoutThreadsTasksRunWhereTheyStart) {
    if (!addressSpaceLimitWorks())
        GTEST_SKIP() << "no address-space limit under the sanitizers";
    const ContainedResult result = runContained(
        [](std::vector<unsigned char>*) {
            std::ifstream status("/proc/self/status");
            std::string line;
            while (std::getline(status, line) && line.rfind("VmSize:", 0) != 0) {
            }
            const rlim_t size = rlim_t(std::stoull(line.substr(7))) * 1024;
            const rlimit tight{size + (1 << 20), size + (1 << 20)};
            if (setrlimit(RLIMIT_AS, &tight) != 0)
                return std::string("setrlimit failed");
            return startTask([] { return startTask([] { return std::to_string(6 * 7); }).get(); })
                .get();
        },
        {0, 5});
    EXPECT_EQ(result.end, ContainedEnd::Refused) << result.message;
    EXPECT_EQ(result.message, "42");
}
