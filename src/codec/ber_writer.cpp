#include "codec/ber_writer.h"

#include <bit>
#include <cstring>
#include <limits>

#include "model/value_text.h"

namespace velk::codec {

using model::ReadSigned32;
using model::ReadUnsigned32;
using model::ReadUnsigned64;
using model::RenderSigned;
using model::RenderUnsigned;
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

// Writes v in base 128 in front of p (the fewest groups, the top bit set on all but the
// last); returns the new front.
uint8_t* StoreBase128Backward(uint8_t* p, uint64_t v) noexcept {
    *--p = static_cast<uint8_t>(v & 0x7F);
    for (v >>= 7; v != 0; v >>= 7) *--p = static_cast<uint8_t>(0x80 | (v & 0x7F));
    return p;
}

constexpr uint64_t kPowersOfTen[19] = {
    1u, 10u, 100u, 1000u, 10000u, 100000u, 1000000u, 10000000u, 100000000u, 1000000000u,
    10000000000u, 100000000000u, 1000000000000u, 10000000000000u, 100000000000000u,
    1000000000000000u, 10000000000000000u, 100000000000000000u, 1000000000000000000u};

// Reads, backwards from `end`, the piece that begins after the previous dot (or at `low`).
// Succeeds when the piece is plain decimal digits, at most 19 (which cannot overflow); an
// empty piece reads 0. On success `end` is left at the piece's first character.
template <class Ch>
inline bool PlainArcBackward(const Ch* text, std::size_t low, std::size_t& end, uint64_t& value) noexcept {
    const std::size_t stop = end - low > 19 ? end - 19 : low;
    const uint64_t* power = kPowersOfTen;
    uint64_t v = 0;
    std::size_t i = end;
    for (; i > stop; --i) {
        const uint64_t digit = static_cast<uint64_t>(text[i - 1]) - static_cast<uint64_t>(Ch('0'));
        if (digit > 9) {
            if (text[i - 1] != Ch('.')) return false;
            break;
        }
        v += digit * *power++;
    }
    // Stopped after 19 digits: the piece must end there.
    if (i == stop && i > low && text[i - 1] != Ch('.')) return false;
    end = i;
    value = v;
    return true;
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
    if (!PutPlainOid(text)) PutOidPieces(text);
}

// The common case in one pass from the back: every piece plain digits (at most 19). Such a
// text needs at most one content byte per character, plus one, so that much room is made
// once and the sub-identifiers are stored straight into it. Returns false, having written
// nothing, when a piece is anything else.
template <class Ch>
bool BerBuffer::PutPlainOid(std::basic_string_view<Ch> text) {
    const Ch* s = text.data();
    const std::size_t firstDot = text.find(Ch('.'));
    uint8_t* const stop = Reserve(text.size() + 1);
    uint8_t* p = stop;
    std::size_t end = text.size();
    uint64_t a2 = 0;
    if (firstDot != text.npos) {
        for (;;) {
            uint64_t arc = 0;
            if (!PlainArcBackward(s, firstDot + 1, end, arc)) return false;
            if (end == firstDot + 1) {
                a2 = arc;
                break;
            }
            p = StoreBase128Backward(p, arc);
            --end;  // the dot
        }
        end = firstDot;
    }
    uint64_t a1 = 0;
    if (!PlainArcBackward(s, 0, end, a1)) return false;
    p = StoreBase128Backward(p, SaturatingFirstSubidentifier(a1, a2));
    const auto length = static_cast<std::size_t>(stop - p);
    used_ += length;
    PutLength(static_cast<uint32_t>(length));
    return true;
}

// Any text: pieces are read from the last to the first as ReadUnsigned64 reads them.
template <class Ch>
void BerBuffer::PutOidPieces(std::basic_string_view<Ch> text) {
    const std::size_t start = used_;
    const std::size_t firstDot = text.find(Ch('.'));
    if (firstDot == text.npos) {
        PutBase128(SaturatingFirstSubidentifier(ReadUnsigned64(text), 0));
    } else {
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
    }
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
