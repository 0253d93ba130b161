// Numbers in value text: reading them from the text of a variable's value (or of an OID arc
// or address part) and rendering them as decimal text.
//
// Text comes in as 8-bit text (one byte per character, the ANSI code page) or as UTF-16
// (BSTR text). Both give the same numbers: the code page maps U+0000..U+00FF to the same
// byte and every other character to '?', and such a character is never white space, a
// sign or a digit, so UTF-16 code units are examined as they are, never narrowed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace velk::model {

// Reading: leading white space (space, \t, \n, \v, \f, \r) is skipped, one '+' or '-' is
// taken, then decimal digits up to the first other character; a text without digits reads
// as 0. Values outside the result's range saturate; nothing overflows.

// Signed 32-bit: clamps to -2147483648..2147483647.
int32_t ReadSigned32(std::string_view text) noexcept;
int32_t ReadSigned32(std::u16string_view text) noexcept;

// Unsigned 32-bit (Counter32, Gauge32, TimeTicks, UInteger32): a '-' gives the two's
// complement of the magnitude ("-1" reads 4294967295); a magnitude above 4294967295 reads
// 4294967295 whatever the sign.
uint32_t ReadUnsigned32(std::string_view text) noexcept;
uint32_t ReadUnsigned32(std::u16string_view text) noexcept;

// Unsigned 64-bit (Counter64, OID arcs): as ReadUnsigned32 over the full 64-bit range; a
// magnitude above 18446744073709551615 reads 18446744073709551615.
uint64_t ReadUnsigned64(std::string_view text) noexcept;
uint64_t ReadUnsigned64(std::u16string_view text) noexcept;

// Rendering: decimal without leading zeros ("0" for zero), "-" before negatives. Writes
// exactly the characters of the number (never more than kMaxDecimalLength) and no
// terminator; returns the end of the characters written.
inline constexpr std::size_t kMaxDecimalLength = 20;

char* RenderSigned(int32_t value, char* out) noexcept;
char16_t* RenderSigned(int32_t value, char16_t* out) noexcept;
char* RenderUnsigned(uint64_t value, char* out) noexcept;
char16_t* RenderUnsigned(uint64_t value, char16_t* out) noexcept;

}  // namespace velk::model
