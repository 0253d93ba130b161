#include "runtime/clock.h"

#include <atomic>
#include <ctime>

namespace {

// Seconds from 1601-01-01 to 1970-01-01.
constexpr ULONGLONG kEpochDifferenceSeconds = 11644473600ULL;

ULONGLONG RealSystemTime() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return (static_cast<ULONGLONG>(ts.tv_sec) + kEpochDifferenceSeconds) * 10000000ULL +
           static_cast<ULONGLONG>(ts.tv_nsec) / 100;
}

DWORD RealTickCount() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const ULONGLONG ms = static_cast<ULONGLONG>(ts.tv_sec) * 1000ULL +
                         static_cast<ULONGLONG>(ts.tv_nsec) / 1000000ULL;
    return static_cast<DWORD>(ms);  // wraps at 2^32, as the tick count does
}

std::atomic<ULONGLONG (*)()> g_systemTime{&RealSystemTime};
std::atomic<DWORD (*)()> g_tickCount{&RealTickCount};

}  // namespace

namespace velk::rt {

void SetClockForTesting(ULONGLONG (*systemTime)(), DWORD (*tickCount)()) {
    g_systemTime.store(systemTime ? systemTime : &RealSystemTime);
    g_tickCount.store(tickCount ? tickCount : &RealTickCount);
}

}  // namespace velk::rt

// 100-ns intervals since 1601-01-01 UTC.
ULONGLONG VelkSystemTime100ns(void) { return g_systemTime.load()(); }

// Milliseconds of a monotonic clock, wrapping at 2^32.
DWORD VelkTickCount(void) { return g_tickCount.load()(); }
