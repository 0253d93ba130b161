// BSTR storage: a 32-bit byte length, then the characters, then a NUL character. The
// BSTR points at the first character; embedded zeros are allowed and counted.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "velk/oleauto.h"

namespace {

constexpr uint32_t kPrefixBytes = sizeof(uint32_t);
// Largest text in bytes; keeps every size (and every character count as an int) far from
// overflow, and refuses absurd requests instead of attempting them.
constexpr uint64_t kMaxBstrBytes = 0x7FFFFFF0u;

constexpr HRESULT VARCMP_LT = 0;
constexpr HRESULT VARCMP_EQ = 1;
constexpr HRESULT VARCMP_GT = 2;
constexpr ULONG NORM_IGNORECASE = 0x00000001;

// Allocates a BSTR of `bytes` bytes, copying them from `src` when it is not null. The
// bytes after the text (up to and including a whole NUL character) are zero.
BSTR Allocate(const void* src, uint64_t bytes) {
    if (bytes > kMaxBstrBytes) return nullptr;
    const size_t padded = static_cast<size_t>((bytes + 1) & ~uint64_t{1});  // whole characters
    const size_t total = kPrefixBytes + padded + sizeof(OLECHAR);
    auto* block = static_cast<unsigned char*>(std::malloc(total));
    if (!block) return nullptr;
    const auto length = static_cast<uint32_t>(bytes);
    std::memcpy(block, &length, sizeof length);
    unsigned char* text = block + kPrefixBytes;
    if (src) std::memcpy(text, src, static_cast<size_t>(bytes));
    std::memset(text + bytes, 0, total - kPrefixBytes - static_cast<size_t>(bytes));
    return reinterpret_cast<BSTR>(text);
}

uint32_t ByteLength(BSTR bstr) {
    uint32_t length;
    std::memcpy(&length, reinterpret_cast<const unsigned char*>(bstr) - kPrefixBytes, sizeof length);
    return length;
}

OLECHAR FoldAscii(OLECHAR c) { return (c >= u'A' && c <= u'Z') ? static_cast<OLECHAR>(c + 32) : c; }

}  // namespace

// A copy of the NUL-terminated text; null gives null.
BSTR SysAllocString(const OLECHAR* psz) {
    if (!psz) return nullptr;
    size_t n = 0;
    while (psz[n]) ++n;
    return Allocate(psz, uint64_t{n} * sizeof(OLECHAR));
}

// `cch` characters copied from `pch`, or left unset (but terminated) when `pch` is null.
// Null when the length is too large or memory runs out.
BSTR SysAllocStringLen(const OLECHAR* pch, UINT cch) {
    return Allocate(pch, uint64_t{cch} * sizeof(OLECHAR));
}

// `len` bytes copied from `psz` (or left unset when null); an odd length is allowed.
BSTR SysAllocStringByteLen(const char* psz, UINT len) { return Allocate(psz, len); }

// Replaces *pbstr by a copy of `psz` (null gives the null BSTR); `psz` may point into the
// old text. FALSE, with *pbstr unchanged, when pbstr is null or memory runs out.
INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz) {
    if (!pbstr) return FALSE;
    BSTR fresh = nullptr;
    if (psz) {
        fresh = SysAllocString(psz);
        if (!fresh) return FALSE;
    }
    SysFreeString(*pbstr);
    *pbstr = fresh;
    return TRUE;
}

void SysFreeString(BSTR bstr) {
    if (bstr) std::free(reinterpret_cast<unsigned char*>(bstr) - kPrefixBytes);
}

// Characters (a trailing odd byte is not counted); 0 for null.
UINT SysStringLen(BSTR bstr) { return bstr ? ByteLength(bstr) / sizeof(OLECHAR) : 0; }

UINT SysStringByteLen(BSTR bstr) { return bstr ? ByteLength(bstr) : 0; }

// Ordinal comparison of the whole texts (embedded zeros included); null equals empty.
// NORM_IGNORECASE folds the ASCII letters. Returns VARCMP_LT (0), VARCMP_EQ (1) or VARCMP_GT (2).
HRESULT VarBstrCmp(BSTR left, BSTR right, LCID, ULONG flags) {
    const UINT ln = SysStringLen(left);
    const UINT rn = SysStringLen(right);
    const UINT n = ln < rn ? ln : rn;
    const bool fold = (flags & NORM_IGNORECASE) != 0;
    for (UINT i = 0; i < n; ++i) {
        OLECHAR a = left[i];
        OLECHAR b = right[i];
        if (fold) {
            a = FoldAscii(a);
            b = FoldAscii(b);
        }
        if (a != b) return a < b ? VARCMP_LT : VARCMP_GT;
    }
    if (ln == rn) return VARCMP_EQ;
    return ln < rn ? VARCMP_LT : VARCMP_GT;
}
