#include "runtime/message_loop.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using velk::rt::RearmFd;
using velk::rt::UnwatchFd;
using velk::rt::WaitUntil;
using velk::rt::WatchFd;

namespace {

struct Pipe {
    int r = -1, w = -1;
    Pipe() {
        int fds[2];
        EXPECT_EQ(pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
        r = fds[0];
        w = fds[1];
    }
    ~Pipe() {
        close(r);
        if (w >= 0) close(w);
    }
    void Put() { EXPECT_EQ(write(w, "x", 1), 1); }
    void Take() {
        char c;
        EXPECT_EQ(read(r, &c, 1), 1);
    }
};

bool Readable(int fd, int timeoutMs = 0) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, timeoutMs) == 1;
}

Clock::duration Since(Clock::time_point start) { return Clock::now() - start; }

// Every test must leave nothing queued: leftover work would capture its dead locals.
class MessageLoop : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_FALSE(Readable(VelkMessageLoopFd())); }
};

TEST_F(MessageLoop, TasksRunInPostingOrderAndThePumpCountsThem) {
    std::vector<int> order;
    VelkPostTask([&] { order.push_back(1); });
    VelkPostTask([](void* ctx) { static_cast<std::vector<int>*>(ctx)->push_back(2); }, &order);
    VelkPostTask([&] { order.push_back(3); });
    VelkPostTask(nullptr, nullptr);            // ignored
    VelkPostTask(std::function<void()>{});     // ignored
    EXPECT_EQ(VelkPumpPendingMessages(), 3u);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(VelkPumpPendingMessages(), 0u);
}

TEST_F(MessageLoop, ATaskThatRepostsItselfRunsOncePerPump) {
    int runs = 0;
    bool stop = false;
    std::function<void()> again = [&] {
        ++runs;
        if (!stop) VelkPostTask(again);
    };
    VelkPostTask(again);
    EXPECT_EQ(VelkPumpPendingMessages(), 1u);
    EXPECT_EQ(VelkPumpPendingMessages(), 1u);
    EXPECT_EQ(runs, 2);
    stop = true;
    EXPECT_EQ(VelkPumpPendingMessages(), 1u);
    EXPECT_EQ(VelkPumpPendingMessages(), 0u);
}

TEST_F(MessageLoop, ATaskThatPumpsRunsTheRestOfTheQueueExactlyOnce) {
    std::vector<std::string> log;
    VelkPostTask([&] {
        log.push_back("a");
        VelkPostTask([&] { log.push_back("d"); });
        EXPECT_EQ(VelkPumpPendingMessages(), 3u);
        log.push_back("a-end");
    });
    VelkPostTask([&] { log.push_back("b"); });
    VelkPostTask([&] { log.push_back("c"); });
    EXPECT_EQ(VelkPumpPendingMessages(), 1u);
    EXPECT_EQ(log, (std::vector<std::string>{"a", "b", "c", "d", "a-end"}));
}

TEST_F(MessageLoop, TimerRepeatsUntilItKillsItself) {
    int fired = 0;
    UINT_PTR id = 0;
    id = VelkSetTimer(5, [&] {
        if (++fired == 3) {
            EXPECT_TRUE(VelkKillTimer(id));
        }
    });
    ASSERT_NE(id, 0u);
    EXPECT_TRUE(WaitUntil([&] { return fired >= 3; }, 10000));
    EXPECT_FALSE(WaitUntil([&] { return fired > 3; }, 60));
    EXPECT_EQ(fired, 3);
    EXPECT_FALSE(VelkKillTimer(id));
    EXPECT_FALSE(VelkKillTimer(0));
    EXPECT_EQ(VelkSetTimer(5, nullptr, nullptr), 0u);
    EXPECT_EQ(VelkSetTimer(5, std::function<void()>{}), 0u);
}

TEST_F(MessageLoop, TimerKilledByAnEarlierCallbackOfTheSamePumpDoesNotRun) {
    int first = 0, second = 0;
    UINT_PTR b = 0;
    UINT_PTR a = VelkSetTimer(5, [&] {
        ++first;
        VelkKillTimer(b);
    });
    b = VelkSetTimer(5, [](void* ctx) { ++*static_cast<int*>(ctx); }, &second);
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(VelkPumpPendingMessages(), 1u);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 0);
    EXPECT_TRUE(VelkKillTimer(a));
}

TEST_F(MessageLoop, TimerRunByANestedPumpIsNotRunAgainByTheOuterOne) {
    int second = 0;
    UINT nested = 0;
    UINT_PTR a = VelkSetTimer(5, [&] { nested = VelkPumpPendingMessages(); });
    UINT_PTR b = VelkSetTimer(5, [&] { ++second; });
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(VelkPumpPendingMessages(), 1u);
    EXPECT_EQ(nested, 1u);
    EXPECT_EQ(second, 1);
    VelkKillTimer(a);
    VelkKillTimer(b);
}

TEST_F(MessageLoop, WaitMessageTimesOutWithSFalseAndReturnsSOkWhenWorkRan) {
    auto start = Clock::now();
    EXPECT_EQ(VelkWaitMessage(50), S_FALSE);
    EXPECT_GE(Since(start), 49ms);
    EXPECT_LT(Since(start), 5s);
    EXPECT_EQ(VelkWaitMessage(0), S_FALSE);

    VelkPostTask([] {});
    EXPECT_EQ(VelkWaitMessage(0), S_OK);

    int fired = 0;
    UINT_PTR t = VelkSetTimer(20, [&] { ++fired; });
    start = Clock::now();
    EXPECT_EQ(VelkWaitMessage(10000), S_OK);
    EXPECT_EQ(fired, 1);
    EXPECT_GE(Since(start), 15ms);
    EXPECT_LT(Since(start), 5s);
    VelkKillTimer(t);
}

TEST_F(MessageLoop, WaitUntilEndsOnTimeWhileOtherWorkKeepsArriving) {
    int tasks = 0, ticks = 0;
    bool stop = false;
    std::function<void()> again = [&] {
        ++tasks;
        if (!stop) VelkPostTask(again);
    };
    VelkPostTask(again);
    UINT_PTR t = VelkSetTimer(5, [&] { ++ticks; });
    auto start = Clock::now();
    EXPECT_FALSE(WaitUntil([] { return false; }, 100));
    EXPECT_GE(Since(start), 99ms);
    EXPECT_LT(Since(start), 5s);
    EXPECT_GT(tasks, 1);
    EXPECT_GT(ticks, 0);
    stop = true;
    VelkKillTimer(t);
    EXPECT_EQ(VelkPumpPendingMessages(), 1u);
}

TEST_F(MessageLoop, NestedWaitInsideAHandlerDispatchesOtherWorkAndEndsOnTime) {
    int ticks = 0;
    bool innerDone = false, handlerFinished = false;
    Clock::duration innerTimeout{};
    UINT_PTR ticker = VelkSetTimer(5, [&] { ++ticks; });
    UINT_PTR outer = 0;
    outer = VelkSetTimer(1, [&] {
        VelkKillTimer(outer);
        innerDone = WaitUntil([&] { return ticks >= 3; }, 10000);
        auto start = Clock::now();
        EXPECT_FALSE(WaitUntil([] { return false; }, 40));
        innerTimeout = Since(start);
        handlerFinished = true;
    });
    EXPECT_TRUE(WaitUntil([&] { return handlerFinished; }, 20000));
    EXPECT_TRUE(innerDone);
    EXPECT_GE(innerTimeout, 39ms);
    EXPECT_LT(innerTimeout, 5s);
    VelkKillTimer(ticker);
}

TEST_F(MessageLoop, FdWatchIsOneShotUntilRearmed) {
    Pipe p;
    int calls = 0;
    int id = WatchFd(p.r, [&] { ++calls; });
    ASSERT_GT(id, 0);
    EXPECT_EQ(VelkPumpPendingMessages(), 0u);
    p.Put();
    EXPECT_EQ(VelkWaitMessage(5000), S_OK);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(VelkPumpPendingMessages(), 0u);  // data still there, but not re-armed
    RearmFd(id);
    EXPECT_EQ(VelkPumpPendingMessages(), 1u);
    p.Take();
    close(p.w);  // a hang-up counts as readable
    p.w = -1;
    RearmFd(id);
    EXPECT_EQ(VelkWaitMessage(5000), S_OK);
    EXPECT_EQ(calls, 3);
    UnwatchFd(id);
    UnwatchFd(id);  // unknown ids are ignored
    RearmFd(id);
    EXPECT_EQ(VelkPumpPendingMessages(), 0u);
}

TEST_F(MessageLoop, FdWatchRejectsWhatItCannotWatch) {
    Pipe p;
    int id = WatchFd(p.r, [] {});
    ASSERT_GT(id, 0);
    FILE* file = tmpfile();
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(WatchFd(-1, [] {}), -1);
    EXPECT_EQ(WatchFd(p.r, [] {}), -1);                   // already watched
    EXPECT_EQ(WatchFd(fileno(file), [] {}), -1);          // regular file
    EXPECT_EQ(WatchFd(p.w, velk::rt::FdHandler{}), -1);   // no handler
    fclose(file);
    UnwatchFd(id);
}

TEST_F(MessageLoop, HandlerRearmedFromInsideRunsAgainInTheNextPump) {
    Pipe p;
    p.Put();
    p.Put();
    int calls = 0, id = 0;
    id = WatchFd(p.r, [&] {
        ++calls;
        p.Take();
        RearmFd(id);
    });
    EXPECT_EQ(VelkPumpPendingMessages(), 1u);
    EXPECT_EQ(VelkPumpPendingMessages(), 1u);
    EXPECT_EQ(VelkPumpPendingMessages(), 0u);  // drained: armed, but nothing to read
    EXPECT_EQ(calls, 2);
    UnwatchFd(id);
}

TEST_F(MessageLoop, HandlersMayUnwatchThemselvesOrAWatchAlreadyQueued) {
    Pipe p1, p2;
    p1.Put();
    p2.Put();
    auto alive = std::make_shared<int>(7);
    int calls = 0, id1 = 0, id2 = 0;
    // Whichever runs first removes both watches; its captures must outlive the removal.
    auto handler = [&, alive] {
        ++calls;
        UnwatchFd(id1);
        UnwatchFd(id2);
        EXPECT_EQ(*alive, 7);
    };
    id1 = WatchFd(p1.r, handler);
    id2 = WatchFd(p2.r, handler);
    alive.reset();
    EXPECT_EQ(VelkPumpPendingMessages(), 1u);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(VelkPumpPendingMessages(), 0u);
}

TEST_F(MessageLoop, LoopFdIsReadableExactlyWhileWorkIsPending) {
    const int fd = VelkMessageLoopFd();
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(Readable(fd));

    VelkPostTask([] {});
    EXPECT_TRUE(Readable(fd));
    VelkPumpPendingMessages();
    EXPECT_FALSE(Readable(fd));

    UINT_PTR t = VelkSetTimer(5, [] {});
    EXPECT_TRUE(Readable(fd, 5000));
    EXPECT_EQ(VelkPumpPendingMessages(), 1u);
    VelkKillTimer(t);
    EXPECT_FALSE(Readable(fd));

    Pipe p;
    int id = WatchFd(p.r, [] {});
    p.Put();
    EXPECT_TRUE(Readable(fd));
    EXPECT_EQ(VelkPumpPendingMessages(), 1u);
    EXPECT_FALSE(Readable(fd));  // one-shot: the unread byte does not keep it readable
    UnwatchFd(id);
}

TEST_F(MessageLoop, EventTakenByAWaitThatThenEndsStaysPendingForTheNextPump) {
    Pipe p;
    int calls = 0, checks = 0;
    int id = WatchFd(p.r, [&] { ++calls; });
    std::thread writer([&] {
        std::this_thread::sleep_for(20ms);
        p.Put();
    });
    // False before and after the first pump; true once the wait has taken the event.
    EXPECT_TRUE(WaitUntil([&] { return ++checks > 2; }, 10000));
    writer.join();
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(Readable(VelkMessageLoopFd()));
    EXPECT_EQ(VelkPumpPendingMessages(), 1u);
    EXPECT_EQ(calls, 1);
    UnwatchFd(id);
}

// Releases a reference and calls back into the loop while it is being destroyed.
struct ReentersOnDestruction {
    ~ReentersOnDestruction() {
        VelkPostTask([] {});
        VelkKillTimer(1);
        UnwatchFd(1);
    }
};

TEST(MessageLoopThreads, EachThreadHasItsOwnLoopReleasedAtThreadExit) {
    std::weak_ptr<ReentersOnDestruction> token;
    Pipe p;
    const int mainFd = VelkMessageLoopFd();
    int threadFd = -1;
    std::thread([&] {
        auto owned = std::make_shared<ReentersOnDestruction>();
        token = owned;
        threadFd = VelkMessageLoopFd();
        VelkPostTask([owned] {});
        VelkSetTimer(1000, [owned] {});
        WatchFd(p.r, [owned] {});
    }).join();
    EXPECT_NE(threadFd, mainFd);
    EXPECT_TRUE(token.expired());
    EXPECT_EQ(fcntl(threadFd, F_GETFD), -1);
    EXPECT_EQ(VelkPumpPendingMessages(), 0u);  // nothing of the other thread runs here
}

// Until a host asks for the loop descriptor, posts make no wake-up and disarmed watches stay
// registered; waits must still see posted work at once, and handlers stay one-shot.
TEST(MessageLoopThreads, LoopNobodyPollsFromOutsideStillSeesItsWorkAtOnce) {
    std::thread([] {
        Pipe p;
        const auto start = Clock::now();
        VelkPostTask([] {});
        EXPECT_EQ(VelkWaitMessage(5000), S_OK);
        bool inner = false, outer = false;
        VelkPostTask([&] {
            VelkPostTask([&] { inner = true; });
            EXPECT_TRUE(WaitUntil([&] { return inner; }, 5000));  // nested in a pump
            VelkPostTask([&] { outer = true; });
        });
        EXPECT_TRUE(WaitUntil([&] { return outer; }, 5000));
        EXPECT_LT(Since(start), 2s);

        int calls = 0;
        const int id = WatchFd(p.r, [&] { ++calls; });
        p.Put();
        EXPECT_EQ(VelkWaitMessage(5000), S_OK);
        EXPECT_EQ(VelkWaitMessage(30), S_FALSE);  // still readable, but not re-armed
        RearmFd(id);
        EXPECT_EQ(VelkWaitMessage(5000), S_OK);
        EXPECT_EQ(calls, 2);

        // Work queued before the descriptor was handed out makes it readable.
        VelkPostTask([] {});
        const int fd = VelkMessageLoopFd();
        EXPECT_TRUE(Readable(fd));
        EXPECT_EQ(VelkPumpPendingMessages(), 1u);
        EXPECT_FALSE(Readable(fd));  // the disarmed watch's unread byte included
        UnwatchFd(id);
    }).join();
}

// The check that long work makes before pumping: posted tasks and due timers are seen at
// once, a ready descriptor within about a millisecond, and nothing when nothing waits.
TEST(MessageLoopThreads, MayBePendingSeesTasksAndTimersAtOnceAndDescriptorsSoon) {
    std::thread([] {
        EXPECT_FALSE(VelkMessagesMayBePending());  // the thread has no loop yet
        VelkPostTask([] {});
        EXPECT_TRUE(VelkMessagesMayBePending());
        EXPECT_EQ(VelkPumpPendingMessages(), 1u);
        EXPECT_FALSE(VelkMessagesMayBePending());

        Pipe p;
        int calls = 0;
        const int id = WatchFd(p.r, [&] {
            ++calls;
            p.Take();
        });
        p.Put();
        const auto start = Clock::now();
        while (!VelkMessagesMayBePending()) ASSERT_LT(Since(start), 1s);
        EXPECT_EQ(VelkPumpPendingMessages(), 1u);
        EXPECT_EQ(calls, 1);
        UnwatchFd(id);

        bool ran = false;
        const UINT_PTR timer = VelkSetTimer(1, [&] { ran = true; });
        std::this_thread::sleep_for(3ms);
        EXPECT_TRUE(VelkMessagesMayBePending());
        VelkPumpPendingMessages();
        EXPECT_TRUE(ran);
        VelkKillTimer(timer);
        EXPECT_FALSE(VelkMessagesMayBePending());
    }).join();
}

}  // namespace
