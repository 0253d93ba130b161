#include "model/value_text.h"

#include <limits>

namespace velk::model {
namespace {

template <class Ch>
constexpr bool IsSpace(Ch c) noexcept {
    return c == Ch(' ') || (c >= Ch('\t') && c <= Ch('\r'));
}

// The sign and the magnitude of the number at the start of a text; `overflow` when the
// digits do not fit in 64 bits.
struct Scanned {
    uint64_t magnitude = 0;
    bool negative = false;
    bool overflow = false;
};

template <class Ch>
Scanned Scan(std::basic_string_view<Ch> text) noexcept {
    Scanned s;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && IsSpace(text[i])) ++i;
    if (i < n && (text[i] == Ch('+') || text[i] == Ch('-'))) {
        s.negative = text[i] == Ch('-');
        ++i;
    }
    constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
    // Nineteen digits cannot overflow; from the twentieth on, each is checked.
    std::size_t digits = 0;
    for (; i < n && text[i] >= Ch('0') && text[i] <= Ch('9'); ++i, ++digits) {
        const auto digit = static_cast<uint64_t>(text[i] - Ch('0'));
        if (digits < 19) {
            s.magnitude = s.magnitude * 10 + digit;
        } else if (!s.overflow) {
            if (s.magnitude > (kMax - digit) / 10) {
                s.overflow = true;
            } else {
                s.magnitude = s.magnitude * 10 + digit;
            }
        }
    }
    return s;
}

template <class Ch>
int32_t Signed32(std::basic_string_view<Ch> text) noexcept {
    const Scanned s = Scan(text);
    constexpr uint64_t kLimit = uint64_t{1} << 31;
    if (s.negative) {
        if (s.overflow || s.magnitude >= kLimit) return std::numeric_limits<int32_t>::min();
        return -static_cast<int32_t>(s.magnitude);
    }
    if (s.overflow || s.magnitude >= kLimit) return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(s.magnitude);
}

template <class Ch>
uint32_t Unsigned32(std::basic_string_view<Ch> text) noexcept {
    const Scanned s = Scan(text);
    constexpr uint32_t kMax = std::numeric_limits<uint32_t>::max();
    if (s.overflow || s.magnitude > kMax) return kMax;
    const auto magnitude = static_cast<uint32_t>(s.magnitude);
    return s.negative ? 0u - magnitude : magnitude;
}

template <class Ch>
uint64_t Unsigned64(std::basic_string_view<Ch> text) noexcept {
    const Scanned s = Scan(text);
    if (s.overflow) return std::numeric_limits<uint64_t>::max();
    return s.negative ? 0u - s.magnitude : s.magnitude;
}

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

constexpr int DigitCount(uint64_t v) noexcept {
    int digits = 1;
    for (uint64_t limit = 10; v >= limit; limit *= 10) {
        ++digits;
        if (digits == 20) break;  // 10^19 is the last power of ten below 2^64
    }
    return digits;
}

template <class Ch>
Ch* Unsigned(uint64_t v, Ch* out) noexcept {
    Ch* const end = out + DigitCount(v);
    Ch* p = end;
    while (v >= 100) {
        const auto pair = static_cast<std::size_t>(v % 100) * 2;
        v /= 100;
        *--p = static_cast<Ch>(kDigitPairs[pair + 1]);
        *--p = static_cast<Ch>(kDigitPairs[pair]);
    }
    if (v >= 10) {
        const auto pair = static_cast<std::size_t>(v) * 2;
        *--p = static_cast<Ch>(kDigitPairs[pair + 1]);
        *--p = static_cast<Ch>(kDigitPairs[pair]);
    } else {
        *--p = static_cast<Ch>(Ch('0') + static_cast<Ch>(v));
    }
    return end;
}

template <class Ch>
Ch* Signed(int32_t v, Ch* out) noexcept {
    if (v >= 0) return Unsigned(static_cast<uint64_t>(v), out);
    *out++ = Ch('-');
    // The magnitude computed in 64 bits: negating -2147483648 in 32 bits would overflow.
    return Unsigned(static_cast<uint64_t>(-static_cast<int64_t>(v)), out);
}

}  // namespace

int32_t ReadSigned32(std::string_view text) noexcept { return Signed32(text); }
int32_t ReadSigned32(std::u16string_view text) noexcept { return Signed32(text); }
uint32_t ReadUnsigned32(std::string_view text) noexcept { return Unsigned32(text); }
uint32_t ReadUnsigned32(std::u16string_view text) noexcept { return Unsigned32(text); }
uint64_t ReadUnsigned64(std::string_view text) noexcept { return Unsigned64(text); }
uint64_t ReadUnsigned64(std::u16string_view text) noexcept { return Unsigned64(text); }

char* RenderSigned(int32_t value, char* out) noexcept { return Signed(value, out); }
char16_t* RenderSigned(int32_t value, char16_t* out) noexcept { return Signed(value, out); }
char* RenderUnsigned(uint64_t value, char* out) noexcept { return Unsigned(value, out); }
char16_t* RenderUnsigned(uint64_t value, char16_t* out) noexcept { return Unsigned(value, out); }

}  // namespace velk::model
