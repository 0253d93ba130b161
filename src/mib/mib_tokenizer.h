// The two tokenizers over the text of a MibSource. Both work on bytes; tokens are views
// into the source's buffer, valid until the next file is read into it (no token is
// copied).
//
// Delimiters (twelve bytes): , ; space CR LF tab { } " : [ ]. Parentheses, periods,
// hyphens and digits are not delimiters, so INTEGER(0..255) and read-only are one token
// each. "::=" is a token of its own in both tokenizers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "mib/mib_source.h"

namespace velk::mib {

// Token state of MibTokenizer: length 0 is the end of the text.
struct MibToken {
    uint32_t length = 0;
    uint32_t line = 1;  // line of the token: line feeds before it, plus 1
    size_t start = 0;   // offset of its first byte in the source text
};

// The compiler's tokenizer: skips blanks (space, CR, tab, LF) and comments itself and
// counts every line feed, wherever it stands, into the token's line.
//
// Comments: two hyphens open one; it ends at the next line feed, or, once a further pair
// of hyphens has been seen (the second opening hyphen counts as the first of it), at the
// first byte that is not a space, CR, tab or hyphen. So "---" opens and closes at once, a
// line of hyphens is skipped whole, and "-- a -- b" leaves b as a token.
class MibTokenizer {
public:
    explicit MibTokenizer(MibSource& source) : source_(source) {}

    // Starts a token state at the source's position, line 1, before any token.
    MibToken Begin() const {
        MibToken t;
        t.start = source_.Position();
        return t;
    }

    // Advances `token` to the next token: "::=", one delimiter byte, or the longest run of
    // bytes up to the next delimiter or the end. At the end of the text the length is 0
    // (and stays 0 on every further call).
    void Next(MibToken& token);

    // Makes `to` (a token read earlier) the next token read: the position moves back to its
    // start and `token` takes its line, so the lines of the tokens read again are counted
    // as before.
    void Rewind(MibToken& token, const MibToken& to);

    // Called when `token` is a double quote: returns the verbatim content up to the next
    // double quote (or the end of the text), counting its line feeds, and advances `token`
    // to the token after the closing quote. There is no escape for a quote.
    std::string_view QuotedString(MibToken& token);

    std::string_view View(const MibToken& token) const {
        return {source_.Data() + token.start, token.length};
    }
    // Bytes of the text from `from` (an offset) up to, not including, the next `c` byte or
    // the end of the text.
    std::string_view RawUpTo(size_t from, char c) const;

    const MibSource& Source() const { return source_; }

private:
    MibSource& source_;
};

// A token of MibLineTokenizer and the line on which it stands.
struct MibLineToken {
    std::string_view text;
    uint32_t line = 1;
};

// The single-file loader's tokenizer: skips only spaces and tabs, and yields every line
// feed, carriage return and delimiter as a token of its own. A colon is not a delimiter
// here unless it begins "::=". A run that begins with the bytes "OCTET STRING" takes the
// space in, so OCTET STRING is one token. Comments are not recognised: "--" and the words
// after it are ordinary tokens. The line is kept in the source (MibSource::Line) and is
// incremented after a line-feed token is returned.
class MibLineTokenizer {
public:
    explicit MibLineTokenizer(MibSource& source) : source_(source) {}

    // The next token, or false at the end of the text. The view is valid until the next
    // file is read into the source.
    bool Next(MibLineToken* token);

private:
    MibSource& source_;
};

}  // namespace velk::mib
