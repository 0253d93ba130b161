// A hash index from byte texts to positions (uint32_t) of a list that holds the texts
// itself: open addressing with linear probing in one array, so a lookup touches one slot
// run and the key bytes, and an insertion allocates nothing until the table grows. The
// index stores no keys; the caller's `keyOf(position)` gives the text of a position.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace velk::mib {

class FlatIndex {
public:
    static constexpr uint32_t kNone = UINT32_MAX;

    // Eight bytes at a time, then a finaliser so that the low bits (the slot) depend on
    // every byte.
    static uint64_t Hash(std::string_view s) {
        constexpr uint64_t kMul = 0x9e3779b97f4a7c15ull;
        const char* p = s.data();
        size_t n = s.size();
        uint64_t h = n * kMul;
        while (n >= 8) {
            uint64_t w;
            std::memcpy(&w, p, 8);
            h = (h ^ w) * kMul;
            h ^= h >> 31;
            p += 8;
            n -= 8;
        }
        if (n > 0) {
            uint64_t w = 0;
            std::memcpy(&w, p, n);
            h = (h ^ w) * kMul;
        }
        h ^= h >> 33;
        h *= 0xff51afd7ed558ccdull;
        h ^= h >> 33;
        return h;
    }

    size_t Size() const { return count_; }

    template <class KeyOf>
    uint32_t Find(std::string_view key, const KeyOf& keyOf) const {
        if (slots_.empty()) return kNone;
        const uint64_t h = Hash(key);
        const uint32_t tag = Tag(h);
        for (size_t i = h & mask_;; i = (i + 1) & mask_) {
            const Slot& s = slots_[i];
            if (s.position == kNone) return kNone;
            if (s.tag == tag && keyOf(s.position) == key) return s.position;
        }
    }

    // Adds `position` under `key` unless the key is there; returns the position stored
    // under the key (the new one when it was added). May throw std::bad_alloc (the index
    // is then unchanged).
    template <class KeyOf>
    uint32_t Insert(std::string_view key, uint32_t position, const KeyOf& keyOf) {
        // At most half full: a miss (the usual first lookup of Name) ends after few probes.
        if ((count_ + 1) * 2 > slots_.size()) Grow(keyOf);
        const uint64_t h = Hash(key);
        const uint32_t tag = Tag(h);
        for (size_t i = h & mask_;; i = (i + 1) & mask_) {
            Slot& s = slots_[i];
            if (s.position == kNone) {
                s = {tag, position};
                ++count_;
                return position;
            }
            if (s.tag == tag && keyOf(s.position) == key) return s.position;
        }
    }

    // Removes the entry of `key` when it holds `position`.
    template <class KeyOf>
    void Erase(std::string_view key, uint32_t position, const KeyOf& keyOf) {
        if (slots_.empty()) return;
        size_t i = Hash(key) & mask_;
        for (;; i = (i + 1) & mask_) {
            if (slots_[i].position == kNone) return;
            if (slots_[i].position == position) break;
        }
        // Backward-shift deletion: move later entries of the run into the hole when their
        // home slot does not lie between the hole and them.
        for (size_t j = i;;) {
            j = (j + 1) & mask_;
            if (slots_[j].position == kNone) break;
            const size_t home = Hash(keyOf(slots_[j].position)) & mask_;
            if (((j - home) & mask_) >= ((j - i) & mask_)) {
                slots_[i] = slots_[j];
                i = j;
            }
        }
        slots_[i] = Slot{};
        --count_;
    }

    void Clear() {
        slots_.clear();
        mask_ = 0;
        count_ = 0;
    }

private:
    struct Slot {
        uint32_t tag = 0;
        uint32_t position = kNone;
    };

    static uint32_t Tag(uint64_t h) { return static_cast<uint32_t>(h >> 32); }

    template <class KeyOf>
    void Grow(const KeyOf& keyOf) {
        const size_t size = slots_.empty() ? 64 : slots_.size() * 2;
        std::vector<Slot> grown(size);
        const size_t mask = size - 1;
        for (const Slot& s : slots_) {
            if (s.position == kNone) continue;
            size_t i = Hash(keyOf(s.position)) & mask;
            while (grown[i].position != kNone) i = (i + 1) & mask;
            grown[i] = s;
        }
        slots_.swap(grown);
        mask_ = mask;
    }

    std::vector<Slot> slots_;
    size_t mask_ = 0;
    size_t count_ = 0;
};

}  // namespace velk::mib
