#include "codec/ber_reader.h"

#include "model/value_text.h"

namespace velk::codec {

using model::ReadSigned32;
using model::ReadUnsigned32;
using model::ReadUnsigned64;
using model::RenderSigned;
using model::RenderUnsigned;
namespace {

// Longest number content accepted; anything longer is malformed.
constexpr std::size_t kMaxNumberContent = 127;

// Upper bound of the text of an OID content of n bytes: a sub-identifier of k bytes renders
// as at most 4k characters with its dot, and the first one adds "x." in front.
constexpr std::size_t MaxOidTextLength(std::size_t n) noexcept { return 4 * n + 2; }

// Decimal text of an arc or address byte; most are below 100.
template <class Ch>
Ch* RenderArc(uint32_t v, Ch* out) noexcept {
    if (v < 10) {
        *out = static_cast<Ch>(Ch('0') + v);
        return out + 1;
    }
    if (v < 100) {
        out[0] = static_cast<Ch>(Ch('0') + v / 10);
        out[1] = static_cast<Ch>(Ch('0') + v % 10);
        return out + 2;
    }
    return RenderUnsigned(v, out);
}

}  // namespace

bool BerReader::Skip(std::size_t n) noexcept {
    if (n > Remaining()) return false;
    pos_ += n;
    return true;
}

std::optional<uint8_t> BerReader::GetByte() noexcept {
    if (pos_ >= size_) return std::nullopt;
    return data_[pos_++];
}

std::optional<uint32_t> BerReader::GetLength() noexcept {
    if (pos_ >= size_) return std::nullopt;
    const uint8_t first = data_[pos_];
    if (first < 0x80) {
        ++pos_;
        return first;
    }
    const std::size_t bytes = first & 0x7Fu;
    if (bytes == 0 || bytes > 4 || bytes >= Remaining()) return std::nullopt;
    uint32_t length = 0;
    for (std::size_t i = 1; i <= bytes; ++i) length = (length << 8) | data_[pos_ + i];
    pos_ += bytes + 1;
    return length;
}

std::optional<std::span<const uint8_t>> BerReader::GetBytes() noexcept {
    const std::size_t start = pos_;
    const auto length = GetLength();
    if (!length || *length > Remaining()) {
        pos_ = start;
        return std::nullopt;
    }
    const std::span<const uint8_t> content(data_ + pos_, *length);
    pos_ += *length;
    return content;
}

std::optional<std::span<const uint8_t>> BerReader::GetNumberContent() noexcept {
    const std::size_t start = pos_;
    const auto content = GetBytes();
    if (content && content->size() > kMaxNumberContent) {
        pos_ = start;
        return std::nullopt;
    }
    return content;
}

std::optional<int32_t> BerReader::GetInteger() noexcept {
    const auto content = GetNumberContent();
    if (!content) return std::nullopt;
    if (content->empty()) return 0;
    uint32_t value = (content->front() & 0x80) ? ~uint32_t{0} : 0;
    for (const uint8_t b : *content) value = (value << 8) | b;
    return static_cast<int32_t>(value);
}

std::optional<uint32_t> BerReader::GetUnsigned() noexcept {
    const auto content = GetNumberContent();
    if (!content) return std::nullopt;
    uint32_t value = 0;
    for (const uint8_t b : *content) value = (value << 8) | b;
    return value;
}

std::optional<uint64_t> BerReader::GetUnsigned64() noexcept {
    const auto content = GetNumberContent();
    if (!content) return std::nullopt;
    // Keeping the last eight bytes: the last four are the lower half, the four before them
    // the last four of the upper part.
    uint64_t value = 0;
    for (const uint8_t b : *content) value = (value << 8) | b;
    return value;
}

template <class Ch>
bool BerReader::OidText(std::basic_string<Ch>& out) {
    const std::size_t start = pos_;
    const auto content = GetBytes();
    out.clear();
    if (!content) return false;
    if (content->empty()) return true;
    out.resize(MaxOidTextLength(content->size()));
    Ch* w = out.data();
    bool first = true;
    bool open = false;
    uint32_t sub = 0;
    for (const uint8_t b : *content) {
        sub = (sub << 7) | (b & 0x7Fu);
        if (b & 0x80) {
            open = true;
            continue;
        }
        if (first) {
            const uint32_t a1 = sub < 40 ? 0 : sub < 80 ? 1 : 2;
            *w++ = static_cast<Ch>(Ch('0') + static_cast<Ch>(a1));
            *w++ = Ch('.');
            w = RenderArc(sub - 40 * a1, w);
            first = false;
        } else {
            *w++ = Ch('.');
            w = RenderArc(sub, w);
        }
        sub = 0;
        open = false;
    }
    if (open) {
        out.clear();
        pos_ = start;
        return false;
    }
    out.resize(static_cast<std::size_t>(w - out.data()));
    return true;
}

template <class Ch>
bool BerReader::IpAddressText(std::basic_string<Ch>& out) {
    const auto content = GetBytes();
    out.clear();
    if (!content) return false;
    out.resize(15);
    Ch* w = out.data();
    for (std::size_t i = 0; i < 4; ++i) {
        if (i != 0) *w++ = Ch('.');
        w = RenderArc(i < content->size() ? (*content)[i] : 0u, w);
    }
    out.resize(static_cast<std::size_t>(w - out.data()));
    return true;
}

bool BerReader::GetOidText(std::string& out) { return OidText(out); }
bool BerReader::GetOidText(std::u16string& out) { return OidText(out); }
bool BerReader::GetIpAddressText(std::string& out) { return IpAddressText(out); }
bool BerReader::GetIpAddressText(std::u16string& out) { return IpAddressText(out); }

}  // namespace velk::codec
