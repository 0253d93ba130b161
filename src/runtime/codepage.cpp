// The ANSI code page is ISO-8859-1: byte b is character U+00bb. One byte gives one
// character and one UTF-16 unit gives one byte, so lengths are preserved both ways.

#include "velk/oleauto.h"

namespace {

// Characters taken from `src`: a negative length means NUL-terminated, the NUL included.
template <class Char>
int SourceLength(const Char* src, int srcLen) {
    if (!src) return 0;
    if (srcLen >= 0) return srcLen;
    int n = 0;
    while (src[n]) ++n;
    return n + 1;
}

}  // namespace

// Converts bytes to characters. With a null `dst`, returns the count needed; otherwise
// writes at most `dstLen` characters and returns the count written.
int VelkAnsiToWide(const char* src, int srcLen, OLECHAR* dst, int dstLen) {
    const int n = SourceLength(src, srcLen);
    if (!dst) return n;
    const int count = n < dstLen ? n : (dstLen > 0 ? dstLen : 0);
    for (int i = 0; i < count; ++i) dst[i] = static_cast<OLECHAR>(static_cast<unsigned char>(src[i]));
    return count;
}

// Converts characters to bytes; characters above U+00FF (each surrogate unit included)
// become '?'. With a null `dst`, returns the count needed; otherwise writes at most
// `dstLen` bytes and returns the count written.
int VelkWideToAnsi(const OLECHAR* src, int srcLen, char* dst, int dstLen) {
    const int n = SourceLength(src, srcLen);
    if (!dst) return n;
    const int count = n < dstLen ? n : (dstLen > 0 ? dstLen : 0);
    for (int i = 0; i < count; ++i)
        dst[i] = src[i] <= 0xFF ? static_cast<char>(static_cast<unsigned char>(src[i])) : '?';
    return count;
}
