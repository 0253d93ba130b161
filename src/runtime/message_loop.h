// The thread message loop, library side. The public half (VelkPumpPendingMessages,
// VelkWaitMessage, VelkPostTask, VelkSetTimer, VelkKillTimer, VelkMessageLoopFd) is declared
// in velk/oleauto.h; this header adds what the library itself needs: descriptor watches and
// the nested wait of blocking calls.
//
// One loop per thread, created on first use and destroyed at thread exit (queued tasks,
// timers and watches are then dropped unrun). Everything here, VelkPostTask included, acts
// on the calling thread's loop: there is no way to post to another thread, so the loop
// takes no locks. Posted tasks, timers and watches belong to the thread that made them.
//
// Dispatch order within one pump: descriptor events and posted tasks in arrival order, then
// the timers that were due when the pump began. Work that arrives during a pump runs in a
// later pump, so a task that re-posts itself cannot starve the caller. Pumping from inside a
// callback (a nested pump or wait) is allowed; it dispatches whatever is queued, including
// work the outer pump had not reached yet.
//
// Public half, in brief: VelkPumpPendingMessages returns how many callbacks ran.
// VelkWaitMessage returns S_OK once something ran, S_FALSE when the time-out elapsed first
// (kInfinite: no limit), E_UNEXPECTED when the thread has no loop (out of descriptors, or
// thread exit). Null callbacks are ignored by VelkPostTask and make VelkSetTimer return 0.
// Timers repeat until killed; an interval of 0 counts as 1 ms, and a timer that fell behind
// skips the ticks it missed rather than running them in a burst. VelkKillTimer returns FALSE
// for an unknown id. VelkMessageLoopFd (-1 without a loop) is readable while work is pending;
// the loop owns it and closes it at thread exit. Until a host first asks for it, the loop
// keeps that readiness only for its own waits (nothing else can poll it), which spares a
// system call per posted task.
//
// Callbacks should not throw. If one does, the exception leaves the pump that called it;
// the loop stays consistent and the rest of the queued work runs in a later pump.
#pragma once

#include <functional>

#include "velk/oleauto.h"

namespace velk::rt {

// Time-out value that waits without limit.
inline constexpr DWORD kInfinite = 0xFFFFFFFFu;

using FdHandler = std::function<void()>;

// Calls `onReadable` from the loop when `fd` becomes readable (or reports an error or
// hang-up). The watch is one-shot: after the handler has been called, it is not called
// again until RearmFd(id), even if the descriptor stays readable.
// Returns the watch id (> 0), or -1 when the handler is empty or the descriptor cannot be
// watched (invalid, already watched, or a kind epoll does not support, such as a regular
// file). The caller keeps ownership of `fd` and must UnwatchFd before closing it.
int WatchFd(int fd, FdHandler onReadable);

// Arms the watch again; the handler runs once more when the descriptor is (or becomes)
// readable. May be called from inside the handler. Unknown ids are ignored.
void RearmFd(int id);

// Removes the watch; its handler is not called again. Safe from inside any handler, the
// watch's own included (the running handler object stays alive until it returns).
// Unknown ids are ignored.
void UnwatchFd(int id);

// Nested wait of a blocking call: dispatches other work (tasks, timers, descriptor
// handlers) until `done()` returns true (returns true) or `timeoutMs` has elapsed on the
// monotonic clock (returns false). `done()` is checked before anything is dispatched and
// after every pump, so a condition that is already true returns at once without running
// other work. The time-out is kept even when other work keeps arriving (a single slow
// callback can still overrun it). kInfinite waits without limit. May be nested inside
// handlers that themselves run in a WaitUntil.
bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs);

// Makes a WaitUntil that is currently sleeping return to check its condition. For code
// that changes a wait's condition outside of a pump; handlers that run inside the wait's
// own pump do not need it.
void Wake();

}  // namespace velk::rt
