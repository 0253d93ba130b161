// BerBuffer: the encoder's output buffer, filled from the back towards the front.
//
// Every write puts its bytes immediately in front of the bytes written before, so an
// element is written content first, then its length, then its tag, and no length is ever
// computed in advance: the length of a constructed element is the number of bytes written
// since it began (Size() before and after, or Mark() and SinceMark()). Lists are written
// from their last element to their first.
//
// The byte block is allocated on first use with 8192 bytes, grows in steps of 8192 bytes and
// is kept for every later encoding (never shrunk). Growing moves the content to the end of
// the new block; the write position, the end mark and the saved mark are held as distances
// from the end of the block, so they stay valid. Writing never fails (std::bad_alloc when
// memory runs out).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace velk::codec {

class BerBuffer {
public:
    static constexpr std::size_t kBlockStep = 8192;

    BerBuffer() = default;
    BerBuffer(const BerBuffer&) = delete;
    BerBuffer& operator=(const BerBuffer&) = delete;
    BerBuffer(BerBuffer&&) noexcept = default;
    BerBuffer& operator=(BerBuffer&&) noexcept = default;

    // Starts an encoding: the buffer becomes empty, the end mark and the saved mark are the
    // end of the block. Allocates the first block when there is none.
    void Begin();

    // The encoded bytes: from the write position to the end mark. Valid until the next write.
    std::span<const uint8_t> Encoded() const noexcept {
        return {block_.get() + (capacity_ - used_), used_};
    }
    // Number of bytes written since Begin().
    std::size_t Size() const noexcept { return used_; }
    // Bytes in the block (0 before the first encoding).
    std::size_t Capacity() const noexcept { return capacity_; }

    // Saves the write position as the saved mark.
    void Mark() noexcept { mark_ = used_; }
    // The saved mark, as the Size() at the time of Mark().
    std::size_t SavedMark() const noexcept { return mark_; }
    // Number of bytes written in front of the saved mark since Mark().
    std::size_t SinceMark() const noexcept { return used_ - mark_; }

    // One byte (a tag).
    void PutByte(uint8_t byte) { *Front(1) = byte; }
    // A length in definite form: below 128 one byte; otherwise 0x80 plus the number of
    // big-endian bytes (1 to 4), then those bytes.
    void PutLength(uint32_t length);
    // Length and content of an INTEGER: the shortest two's-complement form, 1 to 4 bytes.
    void PutInteger(int32_t value);
    // Length and content of an unsigned 32-bit type: big-endian without leading zero bytes,
    // with a leading 0x00 when the top bit would be set (1 to 5 bytes; 0 gives 0x00).
    void PutUnsigned(uint32_t value);
    // Length and content of a Counter64: PutUnsigned when the upper 32 bits are zero;
    // otherwise the PutUnsigned content of the upper 32 bits followed by the lower 32 bits
    // as four bytes.
    void PutUnsigned64(uint64_t value);
    // Length and content of an OBJECT IDENTIFIER from OID text (dotted decimal). One
    // leading dot is ignored; an empty text gives length 0. Each dot-separated piece reads
    // as an unsigned 64-bit decimal (ReadUnsigned64; an empty piece reads 0); the
    // sub-identifiers are 40 * a1 + a2, then a3..an (a single arc a1 gives 40 * a1), each in
    // base 128 with the fewest groups.
    void PutOid(std::string_view text);
    void PutOid(std::u16string_view text);
    // Length and content of an IpAddress from dotted text: one byte per dot-separated part,
    // the low 8 bits of the part read as a signed 32-bit decimal. The number of parts is not
    // forced to four; an empty text gives length 0.
    void PutIpAddress(std::string_view text);
    void PutIpAddress(std::u16string_view text);
    // Length and the bytes unchanged. At most 0xFFFFFFFF bytes.
    void PutBytes(std::span<const uint8_t> bytes);

private:
    // Moves the write position back by n bytes, growing the block when needed, and returns
    // the new write position; the caller fills the n bytes.
    uint8_t* Front(std::size_t n) {
        Reserve(n);
        used_ += n;
        return block_.get() + (capacity_ - used_);
    }
    // Makes room for n bytes in front of the write position, which stays; returns it. The
    // caller may store up to n bytes in front of it and then move the write position over
    // what it stored.
    uint8_t* Reserve(std::size_t n) {
        if (capacity_ - used_ < n) Grow(n);
        return block_.get() + (capacity_ - used_);
    }
    void Grow(std::size_t n);
    void PutBase128(uint64_t value);
    template <class Ch>
    void PutOidText(std::basic_string_view<Ch> text);
    template <class Ch>
    bool PutPlainOid(std::basic_string_view<Ch> text);
    template <class Ch>
    void PutOidPieces(std::basic_string_view<Ch> text);
    template <class Ch>
    void PutIpAddressText(std::basic_string_view<Ch> text);

    std::unique_ptr<uint8_t[]> block_;
    std::size_t capacity_ = 0;
    std::size_t used_ = 0;  // write position, as distance from the end of the block
    std::size_t mark_ = 0;  // saved mark, as distance from the end of the block
    // The end mark is always the end of the block: distance 0.
};

}  // namespace velk::codec
