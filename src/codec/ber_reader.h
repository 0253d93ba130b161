// BerReader: walks received bytes from the front, one element at a time, in message order.
//
// The reader covers a byte range (start, length) that it does not own; the caller keeps the
// bytes alive while reading. Every operation reads at the current position and, on success,
// leaves the position just after what it read. On failure it returns nullopt or false and
// leaves the position unchanged; failure means the bytes are malformed: a length whose
// first byte is 0x80 or 0x85..0xFF or whose bytes run past the range, content that would run
// past the range, a sub-identifier that does not end within its content, or a number content
// longer than 127 bytes. No operation reads outside the range.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace velk::codec {

class BerReader {
public:
    BerReader(const uint8_t* data, std::size_t size) noexcept : data_(data), size_(size) {}
    explicit BerReader(std::span<const uint8_t> bytes) noexcept
        : data_(bytes.data()), size_(bytes.size()) {}

    std::size_t Position() const noexcept { return pos_; }
    std::size_t Remaining() const noexcept { return size_ - pos_; }
    bool AtEnd() const noexcept { return pos_ == size_; }
    // Moves the position forward by n bytes; false when fewer remain.
    bool Skip(std::size_t n) noexcept;

    // One byte (a tag).
    std::optional<uint8_t> GetByte() noexcept;
    // A length: a first byte below 0x80 is the length; 0x81..0x84 is followed by that many
    // big-endian length bytes. The content is not checked against the range here.
    std::optional<uint32_t> GetLength() noexcept;

    // Numbers: length and content; an empty content reads 0. The content bytes accumulate
    // big-endian and a content longer than the result keeps its low-order bytes (the
    // five-byte unsigned form with a leading 0x00 reads right).
    // GetInteger sign-extends the first byte; GetUnsigned and GetUnsigned64 do not.
    std::optional<int32_t> GetInteger() noexcept;
    std::optional<uint32_t> GetUnsigned() noexcept;
    std::optional<uint64_t> GetUnsigned64() noexcept;

    // OID text from length and content: arcs as unsigned decimals joined by dots, no
    // leading dot; the first sub-identifier X gives two arcs (0 and X below 40, 1 and X - 40
    // below 80, else 2 and X - 80); sub-identifiers keep their low 32 bits. An empty content
    // gives the empty text. `out` is replaced (its capacity is reused, so a caller that keeps
    // one string for a whole message allocates nothing after the first OID).
    bool GetOidText(std::string& out);
    bool GetOidText(std::u16string& out);
    // IpAddress text from length and content: the first four bytes as decimals joined by
    // dots; missing bytes read 0, bytes after the fourth are skipped. `out` is replaced.
    bool GetIpAddressText(std::string& out);
    bool GetIpAddressText(std::u16string& out);
    // Length and content: the content in place (a view into the range; the caller copies).
    std::optional<std::span<const uint8_t>> GetBytes() noexcept;

private:
    std::optional<std::span<const uint8_t>> GetNumberContent() noexcept;
    template <class Ch>
    bool OidText(std::basic_string<Ch>& out);
    template <class Ch>
    bool IpAddressText(std::basic_string<Ch>& out);

    const uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

}  // namespace velk::codec
