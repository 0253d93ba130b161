// MibTokenizer and MibLineTokenizer.
#include "mib/mib_tokenizer.h"

#include <array>
#include <cstring>

namespace velk::mib {
namespace {

enum : uint8_t {
    kDelimiter = 1,  // one of the twelve delimiters
    kEnd = 2,        // NUL: the end of the text
    kLineStop = 4,   // ends a run of the line tokenizer (delimiters other than ':', NUL)
};

constexpr std::array<uint8_t, 256> MakeClasses() {
    std::array<uint8_t, 256> c{};
    for (unsigned char d : {',', ';', ' ', '\r', '\n', '\t', '{', '}', '"', ':', '[', ']'})
        c[d] = kDelimiter | (d == ':' ? 0 : kLineStop);
    c[0] = kEnd | kLineStop;
    return c;
}
constexpr std::array<uint8_t, 256> kClass = MakeClasses();

inline uint8_t ClassOf(char c) { return kClass[static_cast<unsigned char>(c)]; }
inline bool IsAssign(const char* p) { return p[0] == ':' && p[1] == ':' && p[2] == '='; }
inline bool IsSpaceCrTab(char c) { return c == ' ' || c == '\r' || c == '\t'; }

}  // namespace

void MibTokenizer::Next(MibToken& token) {
    const char* const text = source_.Data();
    const char* p = text + source_.Position();
    uint32_t line = token.line;
    for (;;) {
        const char c = *p;
        if (IsSpaceCrTab(c)) {
            ++p;
        } else if (c == '\n') {
            ++line;
            ++p;
        } else if (c == '-' && p[1] == '-') {
            // Scanning starts at the second hyphen, which counts as the first of a closing pair.
            ++p;
            bool hyphen = true;
            bool closed = false;
            for (++p;; ++p) {
                const char d = *p;
                if (d == '\0' || d == '\n') break;  // the line feed is skipped as a blank
                if (closed) {
                    if (IsSpaceCrTab(d) || d == '-') continue;
                    break;  // scanning resumes at this byte
                }
                if (d == '-' && hyphen) closed = true;
                hyphen = d == '-';
            }
        } else {
            break;
        }
    }
    token.line = line;
    token.start = static_cast<size_t>(p - text);
    uint32_t length;
    if (*p == '\0') {
        length = 0;
    } else if (IsAssign(p)) {
        length = 3;
    } else if (ClassOf(*p) & kDelimiter) {
        length = 1;
    } else {
        const char* q = p + 1;
        while (!(ClassOf(*q) & (kDelimiter | kEnd))) ++q;
        length = static_cast<uint32_t>(q - p);
    }
    token.length = length;
    source_.SetPosition(token.start + length);
}

void MibTokenizer::Rewind(MibToken& token, const MibToken& to) {
    source_.SetPosition(to.start);
    token.length = 0;
    token.line = to.line;
    token.start = to.start;
}

std::string_view MibTokenizer::QuotedString(MibToken& token) {
    const size_t size = source_.Size();
    const size_t from = source_.Position();
    const char* const text = source_.Data();
    const void* quote = std::memchr(text + from, '"', size - from);
    const size_t to = quote ? static_cast<size_t>(static_cast<const char*>(quote) - text) : size;
    uint32_t line = token.line;
    const char* const end = text + to;
    for (const char* q = text + from;
         (q = static_cast<const char*>(std::memchr(q, '\n', static_cast<size_t>(end - q)))); ++q)
        ++line;
    token.line = line;
    source_.SetPosition(quote ? to + 1 : to);
    Next(token);
    return {text + from, to - from};
}

std::string_view MibTokenizer::RawUpTo(size_t from, char c) const {
    const size_t size = source_.Size();
    if (from > size) from = size;
    const char* const text = source_.Data();
    const void* hit = std::memchr(text + from, c, size - from);
    const size_t to = hit ? static_cast<size_t>(static_cast<const char*>(hit) - text) : size;
    return {text + from, to - from};
}

bool MibLineTokenizer::Next(MibLineToken* token) {
    const char* const text = source_.Data();
    const char* p = text + source_.Position();
    while (*p == ' ' || *p == '\t') ++p;
    if (*p == '\0') {
        source_.SetPosition(static_cast<size_t>(p - text));
        return false;
    }
    size_t length;
    bool lineFeed = false;
    if (IsAssign(p)) {
        length = 3;
    } else if (ClassOf(*p) & kLineStop) {
        length = 1;
        lineFeed = *p == '\n';
    } else {
        static constexpr char kOctetString[] = "OCTET STRING";
        const char* q = p;
        if (std::strncmp(p, kOctetString, sizeof kOctetString - 1) == 0) q += sizeof kOctetString - 1;
        while (!(ClassOf(*q) & kLineStop) && !IsAssign(q)) ++q;
        length = static_cast<size_t>(q - p);
    }
    token->text = std::string_view(p, length);
    token->line = source_.Line();
    source_.SetPosition(static_cast<size_t>(p - text) + length);
    if (lineFeed) source_.SetLine(source_.Line() + 1);
    return true;
}

}  // namespace velk::mib
