// A bump allocator for the byte texts of the MIB store and compiler (names, OIDs, module
// names): copies live in large chunks until the arena is cleared or rolled back to a mark,
// so recording a name costs no allocation of its own.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace velk::mib {

class StringArena {
public:
    static constexpr size_t kChunkSize = 64 * 1024;

    struct Mark {
        size_t chunks = 0;
        size_t used = 0;
    };

    StringArena() = default;
    StringArena(const StringArena&) = delete;
    StringArena& operator=(const StringArena&) = delete;

    // Room for `n` bytes, valid until Clear or a RollBack to a mark taken before.
    char* Allocate(size_t n) {
        if (chunks_.empty() || n > capacity_ - used_) NewChunk(n);
        char* p = chunks_.back().get() + used_;
        used_ += n;
        return p;
    }

    // A copy of `s` (an empty text stays empty and allocates nothing).
    std::string_view Copy(std::string_view s) {
        if (s.empty()) return {};
        char* p = Allocate(s.size());
        std::memcpy(p, s.data(), s.size());
        return {p, s.size()};
    }

    // The concatenation of `a`, `separator` (only when both parts are non-empty) and `b`.
    std::string_view Join(std::string_view a, char separator, std::string_view b) {
        if (a.empty()) return Copy(b);
        if (b.empty()) return Copy(a);
        const size_t n = a.size() + 1 + b.size();
        char* p = Allocate(n);
        std::memcpy(p, a.data(), a.size());
        p[a.size()] = separator;
        std::memcpy(p + a.size() + 1, b.data(), b.size());
        return {p, n};
    }

    Mark GetMark() const { return {chunks_.size(), used_}; }

    // Frees everything allocated after `mark` was taken.
    void RollBack(const Mark& mark) {
        if (mark.chunks > chunks_.size()) return;
        chunks_.resize(mark.chunks);
        capacities_.resize(mark.chunks);
        capacity_ = chunks_.empty() ? 0 : capacities_.back();
        used_ = chunks_.empty() ? 0 : mark.used;
    }

    void Clear() { RollBack(Mark{}); }

private:
    void NewChunk(size_t n) {
        const size_t size = n > kChunkSize ? n : kChunkSize;
        chunks_.push_back(std::unique_ptr<char[]>(new char[size]));
        capacities_.push_back(size);
        capacity_ = size;
        used_ = 0;
    }

    std::vector<std::unique_ptr<char[]>> chunks_;
    std::vector<size_t> capacities_;
    size_t capacity_ = 0;
    size_t used_ = 0;
};

}  // namespace velk::mib
