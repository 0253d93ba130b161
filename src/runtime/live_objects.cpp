// The live-object count is kept per thread: objects are created and released on hot paths
// (a decoded message makes one per variable), and one shared atomic counter costs a locked
// instruction, often a contended cache line, twice per object. Each thread adds to a slot
// of its own with plain (relaxed, non-read-modify-write) stores; the count is the sum of
// the slots. A thread that ends gives its slot back for reuse, value and all, so the sum
// stays exact whichever thread releases an object.
#include <atomic>
#include <mutex>

#include "runtime/object.h"

namespace velk::rt {

namespace {

struct Slot {
    std::atomic<long> value{0};
    std::atomic<bool> inUse{true};
    Slot* next = nullptr;
};

struct Registry {
    std::mutex mutex;
    Slot* head = nullptr;
};

// Never destroyed: objects may be released during static destruction.
Registry& TheRegistry() {
    static Registry* registry = new Registry;
    return *registry;
}

Slot* AcquireSlot() {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    for (Slot* s = r.head; s; s = s->next) {
        if (!s->inUse.load(std::memory_order_relaxed)) {
            s->inUse.store(true, std::memory_order_relaxed);
            return s;
        }
    }
    auto* s = new Slot;
    s->next = r.head;
    r.head = s;
    return s;
}

thread_local Slot* t_slot = nullptr;

// Gives the thread's slot back when the thread ends.
struct SlotOwner {
    ~SlotOwner() {
        if (!t_slot) return;
        std::lock_guard lock(TheRegistry().mutex);
        t_slot->inUse.store(false, std::memory_order_relaxed);
        t_slot = nullptr;
    }
};
thread_local SlotOwner t_owner;

}  // namespace

long LiveObjectCount() {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    long sum = 0;
    for (const Slot* s = r.head; s; s = s->next) sum += s->value.load(std::memory_order_relaxed);
    return sum;
}

void AdjustLiveObjectCount(long delta) {
    Slot* s = t_slot;
    if (!s) {
        (void)&t_owner;  // registers the hand-back at thread exit
        s = t_slot = AcquireSlot();
    }
    s->value.store(s->value.load(std::memory_order_relaxed) + delta, std::memory_order_relaxed);
}

}  // namespace velk::rt
