// Thread message loop over epoll. Three kinds of source share one epoll descriptor, which
// is also the descriptor hosts poll to embed the loop:
// - an eventfd, signalled by Wake() and, once a host has asked for the loop descriptor,
//   while the queue holds work (posted tasks, or descriptor events already taken from
//   epoll);
// - a timerfd, armed to the earliest timer deadline, so it is readable while a timer is due;
// - the watched descriptors.
// Descriptor events and posted tasks go through one FIFO queue whose entries carry a
// sequence number; a pump runs only the entries older than the pump itself, which keeps
// re-posting tasks from looping and lets nested pumps drain the same queue safely.
//
// System calls are kept off the common paths. Tasks are only ever posted from the loop's
// own thread, and the loop never sleeps while its queue holds work, so a post needs no
// wake-up unless a host polls the loop descriptor itself. Watches are one-shot for their
// handlers, but stay registered in epoll (level-triggered) while disarmed: a handler that
// re-arms before the descriptor is polled again costs nothing. A disarmed watch is taken
// out of epoll only when it reports readiness nobody wants, or, for a host polling the
// loop descriptor, at the end of the pump that ran its handler.
#include "runtime/message_loop.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

namespace velk::rt {
namespace {

constexpr int64_t kNsPerMs = 1'000'000;
constexpr int64_t kNsPerSec = 1'000'000'000;
// epoll data of the two internal descriptors; watches use their (positive) id.
constexpr uint64_t kEventTag = ~uint64_t{0};
constexpr uint64_t kTimerTag = kEventTag - 1;

int64_t NowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t{ts.tv_sec} * kNsPerSec + ts.tv_nsec;
}

// The end of a wait on the monotonic clock.
class Deadline {
public:
    explicit Deadline(DWORD timeoutMs)
        : infinite_(timeoutMs == kInfinite),
          end_(infinite_ ? 0 : NowNs() + int64_t{timeoutMs} * kNsPerMs) {}

    // Milliseconds left for epoll_wait, rounded up: -1 without limit, 0 once expired.
    int RemainingMs() const {
        if (infinite_) return -1;
        const int64_t left = end_ - NowNs();
        if (left <= 0) return 0;
        return static_cast<int>(std::min<int64_t>((left + kNsPerMs - 1) / kNsPerMs, INT_MAX));
    }

private:
    bool infinite_;
    int64_t end_;
};

struct Watch {
    int fd;
    FdHandler handler;
    bool queued = false;      // an event for it sits in the queue, not yet dispatched
    bool armed = true;        // the handler is due when the descriptor is readable
    bool registered = true;   // the descriptor is in the epoll set
};

struct Timer {
    int64_t intervalNs;
    int64_t deadline;
    std::function<void()> fn;
};

// One queue entry: a posted task, or a readiness event of watch `watchId` (> 0).
struct Item {
    uint64_t seq;
    std::function<void()> task;
    int watchId;
};

class Loop {
public:
    // Null when the kernel objects cannot be created (out of descriptors).
    static Loop* Create() {
        const int ep = epoll_create1(EPOLL_CLOEXEC);
        const int ev = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        const int tf = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        if (ep >= 0 && ev >= 0 && tf >= 0 && Add(ep, ev, kEventTag) && Add(ep, tf, kTimerTag))
            return new Loop(ep, ev, tf);
        for (int fd : {ep, ev, tf})
            if (fd >= 0) close(fd);
        return nullptr;
    }

    Loop(const Loop&) = delete;
    Loop& operator=(const Loop&) = delete;

    // Queued callbacks are destroyed after this, with the thread's loop already gone, so
    // destructors of captured objects that call back into the loop find nothing to act on.
    ~Loop() {
        close(epoll_);
        close(event_);
        close(timer_);
    }

    bool HasQueued() const { return !queue_.empty(); }

    // From now on the loop descriptor is kept readable while work is pending.
    int Fd() {
        if (!exported_) {
            exported_ = true;
            for (const auto& [id, watch] : watches_) DisableIfDisarmed(*watch);
            if (!queue_.empty()) Signal();
        }
        return epoll_;
    }

    void Post(std::function<void()> task) {
        queue_.push_back(Item{nextSeq_++, std::move(task), 0});
        if (exported_) Signal();
    }

    // The signalled eventfd keeps the next epoll_wait from sleeping until a pump drains it.
    void Wake() { Signal(); }

    UINT_PTR SetTimer(DWORD intervalMs, std::function<void()> fn) {
        // A zero interval would make every wait return at once; one millisecond is the floor.
        const int64_t interval = std::max<int64_t>(intervalMs, 1) * kNsPerMs;
        const UINT_PTR id = nextTimerId_++;
        timers_.emplace(id, std::make_shared<Timer>(Timer{interval, NowNs() + interval, std::move(fn)}));
        ArmTimer();
        return id;
    }

    bool KillTimer(UINT_PTR id) {
        if (timers_.erase(id) == 0) return false;
        ArmTimer();
        return true;
    }

    int WatchFd(int fd, FdHandler handler) {
        // A disarmed watch may be out of the epoll set, so epoll alone cannot tell.
        for (const auto& entry : watches_)
            if (entry.second->fd == fd) return -1;
        int id = nextWatchId_;
        while (watches_.count(id)) id = NextId(id);
        if (!Register(fd, id)) return -1;
        watches_.emplace(id, std::make_shared<Watch>(Watch{fd, std::move(handler)}));
        nextWatchId_ = NextId(id);
        return id;
    }

    void RearmFd(int id) {
        auto it = watches_.find(id);
        if (it == watches_.end()) return;
        Watch& watch = *it->second;
        watch.armed = true;
        if (!watch.registered) watch.registered = Register(watch.fd, id);
    }

    void UnwatchFd(int id) {
        auto it = watches_.find(id);
        if (it == watches_.end()) return;
        if (it->second->registered) epoll_ctl(epoll_, EPOLL_CTL_DEL, it->second->fd, nullptr);
        // A handler that is running holds its own reference, so erasing here is safe.
        watches_.erase(it);
    }

    // Waits up to timeoutMs (-1: no limit) for any source, and queues the descriptor events.
    // Never sleeps while work is queued.
    void Poll(int timeoutMs) {
        constexpr int kBatch = 64;
        epoll_event events[kBatch];
        bool queued = false;
        if (!queue_.empty()) timeoutMs = 0;
        for (;;) {
            const int n = epoll_wait(epoll_, events, kBatch, timeoutMs);
            for (int i = 0; i < n; ++i) {
                const uint64_t tag = events[i].data.u64;
                if (tag == kEventTag || tag == kTimerTag) continue;
                auto it = watches_.find(static_cast<int>(tag));
                if (it == watches_.end()) continue;
                Watch& watch = *it->second;
                if (!watch.armed) {
                    // Readiness nobody asked for: stop epoll from reporting it again.
                    Unregister(watch);
                    continue;
                }
                if (watch.queued) continue;
                watch.queued = true;
                queue_.push_back(Item{nextSeq_++, {}, it->first});
                queued = true;
            }
            if (n < kBatch) break;
            timeoutMs = 0;  // a full batch: collect the rest without waiting
        }
        // Keep the loop descriptor readable while queued events wait for a pump.
        if (queued && exported_) Signal();
    }

    // Runs the queued work older than this call, then the timers due at its start. With
    // `poll`, the descriptors are polled first; a wait that has just polled them skips it.
    UINT Pump(bool poll = true) {
        if (poll) Poll(0);
        const int64_t now = NowNs();
        const uint64_t limit = nextSeq_;
        UINT ran = 0;
        // Entries are removed before they run, so nested pumps and exceptions leave the
        // queue consistent.
        while (!queue_.empty() && queue_.front().seq < limit) {
            Item item = std::move(queue_.front());
            queue_.pop_front();
            if (item.watchId == 0) {
                item.task();
                ++ran;
            } else if (RunWatch(item.watchId)) {
                ++ran;
            }
        }
        ran += RunDueTimers(now);
        if (exported_) {
            // A host polling the loop descriptor must not see readiness of disarmed watches.
            for (int id : ranWatches_)
                if (auto it = watches_.find(id); it != watches_.end()) DisableIfDisarmed(*it->second);
            ranWatches_.clear();
        }
        if (queue_.empty())
            Drain();
        else if (exported_)
            Signal();
        return ran;
    }

    // Whether a pump may find work. Queued work and due timers are seen without a system
    // call; the descriptors are polled (a zero-time wait) at most once per millisecond.
    bool MayHaveWork() {
        if (!queue_.empty()) return true;
        const int64_t now = NowNs();
        if (armed_ != 0 && armed_ <= now) return true;
        if (now - lastWorkPoll_ < kNsPerMs) return false;
        lastWorkPoll_ = now;
        Poll(0);
        return !queue_.empty();
    }

private:
    Loop(int ep, int ev, int tf) : epoll_(ep), event_(ev), timer_(tf) {}

    static bool Add(int ep, int fd, uint64_t tag) {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = tag;
        return epoll_ctl(ep, EPOLL_CTL_ADD, fd, &ev) == 0;
    }

    static int NextId(int id) { return id == INT_MAX ? 1 : id + 1; }

    bool Register(int fd, int id) {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = static_cast<uint64_t>(id);
        return epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev) == 0;
    }

    void Unregister(Watch& watch) {
        if (!watch.registered) return;
        epoll_ctl(epoll_, EPOLL_CTL_DEL, watch.fd, nullptr);
        watch.registered = false;
    }

    void DisableIfDisarmed(Watch& watch) {
        if (!watch.armed && !watch.queued) Unregister(watch);
    }

    bool RunWatch(int id) {
        auto it = watches_.find(id);
        if (it == watches_.end()) return false;  // unwatched since the event was queued
        std::shared_ptr<Watch> watch = it->second;
        watch->queued = false;
        watch->armed = false;  // one call per arming; the handler may re-arm
        if (exported_) ranWatches_.push_back(id);
        watch->handler();
        return true;
    }

    UINT RunDueTimers(int64_t now) {
        std::vector<std::pair<int64_t, UINT_PTR>> due;
        for (const auto& [id, timer] : timers_)
            if (timer->deadline <= now) due.emplace_back(timer->deadline, id);
        std::sort(due.begin(), due.end());
        UINT ran = 0;
        for (const auto& entry : due) {
            auto it = timers_.find(entry.second);
            if (it == timers_.end()) continue;  // killed by an earlier callback
            std::shared_ptr<Timer> timer = it->second;
            if (timer->deadline > now) continue;  // already run by a nested pump
            // Reschedule before the call so the callback may kill it or wait in a nested loop.
            // A timer that fell behind skips the missed ticks instead of bursting.
            const int64_t current = NowNs();
            timer->deadline += timer->intervalNs;
            if (timer->deadline <= current) timer->deadline = current + timer->intervalNs;
            ArmTimer();
            timer->fn();
            ++ran;
        }
        return ran;
    }

    // Sets the timerfd to the earliest deadline, or disarms it. Re-arming clears a past
    // expiry, so the timerfd is readable exactly while some timer is due.
    void ArmTimer() {
        int64_t earliest = 0;
        for (const auto& entry : timers_)
            if (earliest == 0 || entry.second->deadline < earliest) earliest = entry.second->deadline;
        if (earliest == armed_) return;
        itimerspec due{};
        if (earliest != 0) {
            const int64_t at = std::max<int64_t>(earliest, 1);  // all zero would disarm
            due.it_value.tv_sec = static_cast<time_t>(at / kNsPerSec);
            due.it_value.tv_nsec = static_cast<long>(at % kNsPerSec);
        }
        timerfd_settime(timer_, TFD_TIMER_ABSTIME, &due, nullptr);
        armed_ = earliest;
    }

    void Signal() {
        if (signaled_) return;
        const uint64_t one = 1;
        if (write(event_, &one, sizeof one) == sizeof one) signaled_ = true;
    }

    void Drain() {
        if (!signaled_) return;
        uint64_t count = 0;
        if (read(event_, &count, sizeof count) == sizeof count || errno == EAGAIN) signaled_ = false;
    }

    int epoll_;
    int event_;
    int timer_;
    bool signaled_ = false;
    bool exported_ = false;  // a host has the loop descriptor and may poll it
    int64_t armed_ = 0;  // deadline the timerfd is set to, 0 when disarmed
    int64_t lastWorkPoll_ = INT64_MIN / 2;  // when MayHaveWork last polled the descriptors
    uint64_t nextSeq_ = 1;
    int nextWatchId_ = 1;
    UINT_PTR nextTimerId_ = 1;
    std::deque<Item> queue_;
    std::map<UINT_PTR, std::shared_ptr<Timer>> timers_;
    std::unordered_map<int, std::shared_ptr<Watch>> watches_;
    std::vector<int> ranWatches_;  // watches whose handler ran in the current pumps
};

// The calling thread's loop. `closed` is set at thread exit before the loop is destroyed,
// so callbacks destroyed with it cannot create a new one.
struct LoopSlot {
    Loop* loop = nullptr;
    bool closed = false;
    LoopSlot() = default;
    LoopSlot(const LoopSlot&) = delete;
    LoopSlot& operator=(const LoopSlot&) = delete;
    ~LoopSlot() {
        closed = true;
        delete std::exchange(loop, nullptr);
    }
};

thread_local LoopSlot tLoop;

// The thread's loop, created on first use; null at thread exit or when it cannot be made.
Loop* Current() {
    if (!tLoop.loop && !tLoop.closed) tLoop.loop = Loop::Create();
    return tLoop.loop;
}

// The thread's loop if it exists; for calls that have nothing to do without one.
Loop* Existing() { return tLoop.loop; }

}  // namespace

int WatchFd(int fd, FdHandler onReadable) {
    if (fd < 0 || !onReadable) return -1;
    Loop* loop = Current();
    return loop ? loop->WatchFd(fd, std::move(onReadable)) : -1;
}

void RearmFd(int id) {
    if (Loop* loop = Existing()) loop->RearmFd(id);
}

void UnwatchFd(int id) {
    if (Loop* loop = Existing()) loop->UnwatchFd(id);
}

bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    Loop* loop = Current();
    if (!loop) return done();
    const Deadline deadline(timeoutMs);
    // Each pass polls the descriptors once: the pump runs what the poll before it queued.
    // The first pump polls only for a wait of no time, which has no poll of its own.
    bool poll = timeoutMs == 0;
    for (;;) {
        if (done()) return true;
        loop->Pump(poll);
        if (done()) return true;
        const int ms = deadline.RemainingMs();
        if (ms == 0) return false;
        loop->Poll(ms);
        poll = false;
    }
}

void Wake() {
    if (Loop* loop = Existing()) loop->Wake();
}

}  // namespace velk::rt

using velk::rt::Current;
using velk::rt::Existing;

UINT VelkPumpPendingMessages(void) {
    velk::rt::Loop* loop = Current();
    return loop ? loop->Pump() : 0;
}

BOOL VelkMessagesMayBePending(void) {
    velk::rt::Loop* loop = Existing();
    return loop && loop->MayHaveWork() ? TRUE : FALSE;
}

HRESULT VelkWaitMessage(DWORD timeoutMs) {
    velk::rt::Loop* loop = Current();
    if (!loop) return E_UNEXPECTED;
    const velk::rt::Deadline deadline(timeoutMs);
    // A first pump that finds tasks polls too, so descriptors get their turn even while
    // tasks keep coming; otherwise the wait's own poll (or, for a wait of no time, the
    // pump's) collects them, and the pump after it runs what it queued.
    bool poll = loop->HasQueued() || timeoutMs == 0;
    for (;;) {
        if (loop->Pump(poll) > 0) return S_OK;
        const int ms = deadline.RemainingMs();
        if (ms == 0) return S_FALSE;
        loop->Poll(ms);
        poll = false;
    }
}

void VelkPostTask(std::function<void()> task) {
    if (!task) return;
    if (velk::rt::Loop* loop = Current()) loop->Post(std::move(task));
}

void VelkPostTask(void (*fn)(void*), void* context) {
    if (!fn) return;
    VelkPostTask(std::function<void()>([fn, context] { fn(context); }));
}

UINT_PTR VelkSetTimer(DWORD intervalMs, std::function<void()> task) {
    if (!task) return 0;
    velk::rt::Loop* loop = Current();
    return loop ? loop->SetTimer(intervalMs, std::move(task)) : 0;
}

UINT_PTR VelkSetTimer(DWORD intervalMs, void (*fn)(void*), void* context) {
    if (!fn) return 0;
    return VelkSetTimer(intervalMs, std::function<void()>([fn, context] { fn(context); }));
}

BOOL VelkKillTimer(UINT_PTR timerId) {
    velk::rt::Loop* loop = Existing();
    return loop && loop->KillTimer(timerId) ? TRUE : FALSE;
}

int VelkMessageLoopFd(void) {
    velk::rt::Loop* loop = Current();
    return loop ? loop->Fd() : -1;
}
