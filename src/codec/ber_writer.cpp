#include "codec/ber_writer.h"

#include <bit>
#include <cstring>
#include <limits>

#include "codec/value_text.h"

namespace velk::codec {
namespace {

// Bytes of the big-endian form of v without leading zero bytes (at least 1).
constexpr int SignificantBytes(uint32_t v) noexcept {
    return v == 0 ? 1 : (static_cast<int>(std::bit_width(v)) + 7) / 8;
}

void StoreBigEndian(uint8_t* out, uint32_t v, int bytes) noexcept {
    for (int i = bytes - 1; i >= 0; --i) {
        out[i] = static_cast<uint8_t>(v);
        v >>= 8;
    }
}

int Base128Groups(uint64_t v) noexcept {
    return v == 0 ? 1 : (static_cast<int>(std::bit_width(v)) + 6) / 7;
}

// The arc that starts at `pos`, read up to the next dot or the end of the text, where `pos`
// is left. Plain digits are read directly; any other piece as ReadUnsigned64 reads it.
template <class Ch>
uint64_t ReadArc(std::basic_string_view<Ch> text, std::size_t& pos) noexcept {
    const std::size_t begin = pos;
    const std::size_t n = text.size();
    uint64_t value = 0;
    std::size_t i = begin;
    // Up to 19 digits cannot overflow.
    const std::size_t fastEnd = n - begin > 19 ? begin + 19 : n;
    for (; i < fastEnd; ++i) {
        const auto digit = static_cast<uint64_t>(text[i]) - static_cast<uint64_t>(Ch('0'));
        if (digit > 9) break;
        value = value * 10 + digit;
    }
    if (i == n || text[i] == Ch('.')) {
        pos = i;
        return value;
    }
    while (i < n && text[i] != Ch('.')) ++i;
    pos = i;
    return ReadUnsigned64(text.substr(begin, i - begin));
}

uint64_t SaturatingFirstSubidentifier(uint64_t a1, uint64_t a2) noexcept {
    constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
    if (a1 > kMax / 40) return kMax;
    const uint64_t base = a1 * 40;
    return a2 > kMax - base ? kMax : base + a2;
}

}  // namespace

void BerBuffer::Begin() {
    if (!block_) Grow(kBlockStep);
    used_ = 0;
    mark_ = 0;
}

void BerBuffer::Grow(std::size_t n) {
    const std::size_t missing = n - (capacity_ - used_);
    const std::size_t steps = (missing + kBlockStep - 1) / kBlockStep;
    const std::size_t capacity = capacity_ + steps * kBlockStep;
    auto block = std::make_unique_for_overwrite<uint8_t[]>(capacity);
    if (used_ != 0) std::memcpy(block.get() + (capacity - used_), block_.get() + (capacity_ - used_), used_);
    block_ = std::move(block);
    capacity_ = capacity;
}

void BerBuffer::PutLength(uint32_t length) {
    if (length < 0x80) {
        PutByte(static_cast<uint8_t>(length));
        return;
    }
    const int bytes = SignificantBytes(length);
    uint8_t* p = Front(static_cast<std::size_t>(bytes) + 1);
    p[0] = static_cast<uint8_t>(0x80 + bytes);
    StoreBigEndian(p + 1, length, bytes);
}

void BerBuffer::PutInteger(int32_t value) {
    // The fewest bytes whose top bit still carries the sign of the value.
    int bytes = 1;
    while (bytes < 4) {
        const int32_t rest = value >> (8 * bytes - 1);
        if (rest == 0 || rest == -1) break;
        ++bytes;
    }
    uint8_t* p = Front(static_cast<std::size_t>(bytes) + 1);
    p[0] = static_cast<uint8_t>(bytes);
    StoreBigEndian(p + 1, static_cast<uint32_t>(value), bytes);
}

void BerBuffer::PutUnsigned(uint32_t value) {
    const int bytes = SignificantBytes(value);
    const bool pad = (value >> (8 * bytes - 1)) & 1;
    const int content = bytes + (pad ? 1 : 0);
    uint8_t* p = Front(static_cast<std::size_t>(content) + 1);
    p[0] = static_cast<uint8_t>(content);
    if (pad) p[1] = 0;
    StoreBigEndian(p + 1 + (pad ? 1 : 0), value, bytes);
}

void BerBuffer::PutUnsigned64(uint64_t value) {
    const auto high = static_cast<uint32_t>(value >> 32);
    if (high == 0) {
        PutUnsigned(static_cast<uint32_t>(value));
        return;
    }
    StoreBigEndian(Front(4), static_cast<uint32_t>(value), 4);
    PutUnsigned(high);
    // PutUnsigned wrote the length of the upper part alone (2 to 5, one byte): add the four.
    block_[capacity_ - used_] = static_cast<uint8_t>(block_[capacity_ - used_] + 4);
}

void BerBuffer::PutBase128(uint64_t value) {
    const int groups = Base128Groups(value);
    uint8_t* p = Front(static_cast<std::size_t>(groups));
    p[groups - 1] = static_cast<uint8_t>(value & 0x7F);
    for (int i = groups - 2; i >= 0; --i) {
        value >>= 7;
        p[i] = static_cast<uint8_t>(0x80 | (value & 0x7F));
    }
}

template <class Ch>
void BerBuffer::PutOidText(std::basic_string_view<Ch> text) {
    if (!text.empty() && text.front() == Ch('.')) text.remove_prefix(1);
    if (text.empty()) {
        PutByte(0);
        return;
    }
    // Arcs are read front to back into a stack array, then written back to front with one
    // reservation. OIDs with more arcs than the array holds take the general path.
    uint64_t arcs[kMaxFastArcs];
    std::size_t count = 0;
    std::size_t pos = 0;
    for (;;) {
        if (count == kMaxFastArcs) {
            PutOidPieces(text);
            return;
        }
        arcs[count++] = ReadArc(text, pos);
        if (pos == text.size()) break;
        ++pos;  // the dot
    }
    if (count == 1) {
        arcs[0] = SaturatingFirstSubidentifier(arcs[0], 0);
    } else {
        arcs[1] = SaturatingFirstSubidentifier(arcs[0], arcs[1]);
    }
    const std::size_t first = count == 1 ? 0 : 1;
    std::size_t total = 0;
    for (std::size_t i = first; i < count; ++i) total += static_cast<std::size_t>(Base128Groups(arcs[i]));
    uint8_t* p = Front(total) + total;
    for (std::size_t i = count; i-- > first;) {
        uint64_t v = arcs[i];
        *--p = static_cast<uint8_t>(v & 0x7F);
        for (v >>= 7; v != 0; v >>= 7) *--p = static_cast<uint8_t>(0x80 | (v & 0x7F));
    }
    PutLength(static_cast<uint32_t>(total));
}

// The general path, for texts of more than kMaxFastArcs arcs (so they hold a dot): pieces
// are read from the last to the first, with no bound on their number.
template <class Ch>
void BerBuffer::PutOidPieces(std::basic_string_view<Ch> text) {
    const std::size_t start = used_;
    const std::size_t firstDot = text.find(Ch('.'));
    // Arcs a3..an from the last to the first, then a1 and a2 as one sub-identifier.
    std::size_t end = text.size();
    for (;;) {
        std::size_t begin = end;
        while (begin > firstDot + 1 && text[begin - 1] != Ch('.')) --begin;
        if (begin == firstDot + 1) break;
        PutBase128(ReadUnsigned64(text.substr(begin, end - begin)));
        end = begin - 1;
    }
    const uint64_t a2 = ReadUnsigned64(text.substr(firstDot + 1, end - firstDot - 1));
    const uint64_t a1 = ReadUnsigned64(text.substr(0, firstDot));
    PutBase128(SaturatingFirstSubidentifier(a1, a2));
    PutLength(static_cast<uint32_t>(used_ - start));
}

template <class Ch>
void BerBuffer::PutIpAddressText(std::basic_string_view<Ch> text) {
    const std::size_t start = used_;
    if (!text.empty()) {
        // Parts from the last to the first.
        std::size_t end = text.size();
        for (;;) {
            std::size_t begin = end;
            while (begin > 0 && text[begin - 1] != Ch('.')) --begin;
            PutByte(static_cast<uint8_t>(ReadSigned32(text.substr(begin, end - begin))));
            if (begin == 0) break;
            end = begin - 1;
        }
    }
    PutLength(static_cast<uint32_t>(used_ - start));
}

void BerBuffer::PutOid(std::string_view text) { PutOidText(text); }
void BerBuffer::PutOid(std::u16string_view text) { PutOidText(text); }
void BerBuffer::PutIpAddress(std::string_view text) { PutIpAddressText(text); }
void BerBuffer::PutIpAddress(std::u16string_view text) { PutIpAddressText(text); }

void BerBuffer::PutBytes(std::span<const uint8_t> bytes) {
    if (!bytes.empty()) std::memcpy(Front(bytes.size()), bytes.data(), bytes.size());
    PutLength(static_cast<uint32_t>(bytes.size()));
}

}  // namespace velk::codec
