// The live-object count is kept per thread: objects are created and released on hot paths
// (a decoded message makes one per variable), and one shared atomic counter costs a locked
// instruction, often a contended cache line, twice per object. Each thread adds to a slot
// of its own with plain (relaxed, non-read-modify-write) stores; the count is the sum of
// the slots. A thread that ends gives its slot back for reuse, value and all, so the sum
// stays exact whichever thread releases an object.
#include <mutex>

#include "runtime/object.h"

namespace velk::rt {

namespace detail {
thread_local constinit LiveSlot* t_liveSlot = nullptr;
}  // namespace detail

namespace {

using detail::LiveSlot;

struct Registry {
    std::mutex mutex;
    LiveSlot* head = nullptr;
};

// Never destroyed: objects may be released during static destruction.
Registry& TheRegistry() {
    static Registry* registry = new Registry;
    return *registry;
}

// Gives the thread's slot back when the thread ends.
struct SlotOwner {
    ~SlotOwner() {
        if (!detail::t_liveSlot) return;
        std::lock_guard lock(TheRegistry().mutex);
        detail::t_liveSlot->inUse.store(false, std::memory_order_relaxed);
        detail::t_liveSlot = nullptr;
    }
};
thread_local SlotOwner t_owner;

}  // namespace

LiveSlot* detail::AcquireLiveSlot() {
    (void)&t_owner;  // registers the hand-back at thread exit
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    for (LiveSlot* s = r.head; s; s = s->next) {
        if (!s->inUse.load(std::memory_order_relaxed)) {
            s->inUse.store(true, std::memory_order_relaxed);
            return t_liveSlot = s;
        }
    }
    auto* s = new LiveSlot;
    s->next = r.head;
    r.head = s;
    return t_liveSlot = s;
}

long LiveObjectCount() {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    long sum = 0;
    for (const LiveSlot* s = r.head; s; s = s->next) sum += s->value.load(std::memory_order_relaxed);
    return sum;
}

}  // namespace velk::rt
