#include <atomic>

#include "runtime/object.h"

namespace velk::rt {

namespace {
std::atomic<long> g_liveObjects{0};
}  // namespace

long LiveObjectCount() { return g_liveObjects.load(std::memory_order_relaxed); }

void AdjustLiveObjectCount(long delta) { g_liveObjects.fetch_add(delta, std::memory_order_relaxed); }

}  // namespace velk::rt
