#include "smi_scan.h"

#include <cstdint>
#include <cstring>

namespace vs {
namespace {

// Character classes of SMI text by byte, the same in every locale.
enum : uint8_t { kSpace = 1, kAlpha = 2, kDigit = 4, kUpper = 8 };

constexpr auto kClasses = [] {
    struct Table {
        uint8_t c[256] = {};
    } t;
    for (int c = 'a'; c <= 'z'; ++c) t.c[c] = kAlpha;
    for (int c = 'A'; c <= 'Z'; ++c) t.c[c] = kAlpha | kUpper;
    for (int c = '0'; c <= '9'; ++c) t.c[c] = kDigit;
    for (char c : {' ', '\t', '\n', '\v', '\f', '\r'}) t.c[static_cast<uint8_t>(c)] = kSpace;
    return t;
}();

inline uint8_t ClassOf(char c) { return kClasses.c[static_cast<uint8_t>(c)]; }
inline bool IsNameChar(char c) { return (ClassOf(c) & (kAlpha | kDigit)) || c == '-' || c == '_'; }

class Lexer {
public:
    explicit Lexer(std::string_view text) : s_(text) {}

    // The next token, or an empty view at the end.
    std::string_view Next() {
        SkipBlanksAndComments();
        if (p_ >= s_.size()) return {};
        const size_t start = p_;
        const char c = s_[p_];
        if (c == '"') {
            const size_t close = s_.find('"', p_ + 1);
            p_ = close == std::string_view::npos ? s_.size() : close + 1;
        } else if (c == '\'') {
            ++p_;
            while (p_ < s_.size() && s_[p_] != '\'' && s_[p_] != '\n') ++p_;
            if (p_ < s_.size() && s_[p_] == '\'') ++p_;
            if (p_ < s_.size() && (ClassOf(s_[p_]) & kAlpha)) ++p_;
        } else if (s_.compare(p_, 3, "::=") == 0) {
            p_ += 3;
        } else if (s_.compare(p_, 2, "..") == 0) {
            p_ += 2;
        } else if (IsNameChar(c)) {
            while (p_ < s_.size() && IsNameChar(s_[p_])) {
                if (s_[p_] == '-' && p_ + 1 < s_.size() && s_[p_ + 1] == '-') break;  // a comment
                ++p_;
            }
        } else {
            ++p_;
        }
        return s_.substr(start, p_ - start);
    }

private:
    void SkipBlanksAndComments() {
        while (p_ < s_.size()) {
            const char c = s_[p_];
            if (ClassOf(c) & kSpace) {
                ++p_;
            } else if (c == '-' && p_ + 1 < s_.size() && s_[p_ + 1] == '-') {
                // A comment ends at the end of the line or at the next "--".
                p_ += 2;
                while (p_ < s_.size() && s_[p_] != '\n') {
                    if (s_[p_] == '-' && p_ + 1 < s_.size() && s_[p_ + 1] == '-') {
                        p_ += 2;
                        break;
                    }
                    ++p_;
                }
            } else {
                break;
            }
        }
    }

    std::string_view s_;
    size_t p_ = 0;
};

// The tokens of a text, read from it as far as they are asked for. Tokens are kept as
// offsets into the text in a buffer that is reused from one text to the next, so that
// scanning many files touches the same memory.
class Tokens {
public:
    explicit Tokens(std::string_view text) : text_(text), lexer_(text) { Buffer().clear(); }

    // Whether token i exists (reading up to it).
    bool Has(size_t i) {
        std::vector<Span>& b = Buffer();
        while (i >= b.size() && !ended_) {
            const std::string_view t = lexer_.Next();
            if (t.empty()) {
                ended_ = true;
                break;
            }
            b.push_back({static_cast<uint32_t>(t.data() - text_.data()), static_cast<uint32_t>(t.size())});
        }
        return i < b.size();
    }
    // Token i, or an empty view past the end.
    std::string_view operator[](size_t i) {
        if (!Has(i)) return {};
        const Span s = Buffer()[i];
        return text_.substr(s.offset, s.length);
    }

private:
    struct Span {
        uint32_t offset, length;
    };
    static std::vector<Span>& Buffer() {
        static thread_local std::vector<Span> buffer;
        return buffer;
    }
    std::string_view text_;
    Lexer lexer_;
    bool ended_ = false;
};

bool IsKeywordAfterName(std::string_view k, DefKind* kind) {
    if (k == "OBJECT-TYPE") {
        *kind = DefKind::Object;
    } else if (k == "MODULE-IDENTITY" || k == "OBJECT-IDENTITY") {
        *kind = DefKind::Node;
    } else if (k == "NOTIFICATION-TYPE" || k == "TRAP-TYPE") {
        *kind = DefKind::Notification;
    } else if (k == "OBJECT-GROUP" || k == "NOTIFICATION-GROUP" || k == "MODULE-COMPLIANCE" ||
               k == "AGENT-CAPABILITIES") {
        *kind = DefKind::Group;
    } else {
        return false;
    }
    return true;
}

// Reads a syntax starting at token i; returns the position after it.
size_t ReadSyntax(Tokens& t, size_t i, SmiSyntax* out) {
    // Tags of the SMI's own type definitions: [APPLICATION 4] IMPLICIT ...
    if (t[i] == "[") {
        while (t.Has(i) && t[i] != "]") ++i;
        if (t.Has(i)) ++i;
    }
    if (t[i] == "IMPLICIT") ++i;
    if (!t.Has(i)) return i;
    const std::string_view a = t[i];
    const std::string_view b = t[i + 1];
    if ((a == "OCTET" && b == "STRING") || (a == "OBJECT" && b == "IDENTIFIER") || (a == "SEQUENCE" && b == "OF")) {
        out->base.reserve(a.size() + 1 + b.size());
        out->base.append(a).append(" ").append(b);
        i += 2;
    } else {
        out->base = std::string(a);
        i += 1;
    }
    if (t[i] == "{") {
        int depth = 0;
        std::string named;
        for (; t.Has(i); ++i) {
            const std::string_view x = t[i];
            if (x == "{") ++depth;
            if (x == "}") --depth;
            named += x;
            if (depth == 0) {
                ++i;
                break;
            }
        }
        if (out->base != "SEQUENCE") out->named = std::move(named);
    }
    return i;
}

std::vector<SmiModule> Scan(std::string_view text, const std::string& file, bool headersOnly) {
    std::vector<SmiModule> modules;
    Tokens t(text);
    size_t i = 0;
    while (t.Has(i)) {
        // Module header: NAME [{ oid }] DEFINITIONS ... ::= BEGIN
        size_t j = i + 1;
        if (t[j] == "{") {
            while (t.Has(j) && t[j] != "}") ++j;
            ++j;
        }
        if (!t.Has(j) || t[j] != "DEFINITIONS") {
            ++i;
            continue;
        }
        const std::string_view definitions = t[j];
        SmiModule m;
        m.name = std::string(t[i]);
        m.file = file;
        while (t.Has(j) && t[j] != "BEGIN") ++j;
        i = j + 1;
        if (t[i] == "EXPORTS") {
            while (t.Has(i) && t[i] != ";") ++i;
            ++i;
        }
        if (t[i] == "IMPORTS") {
            ++i;
            while (t.Has(i) && t[i] != ";") {
                if (t[i] == "FROM" && t.Has(i + 1)) {
                    const std::string_view name = t[i + 1];
                    if (name == "SNMPv2-SMI") m.smiV2 = true;
                    bool seen = false;
                    for (const std::string& x : m.imports) seen = seen || x == name;
                    if (!seen) m.imports.emplace_back(name);
                    ++i;
                }
                ++i;
            }
            ++i;
        }
        // Every further module has a DEFINITIONS of its own: without one the header is all
        // that a headers-only scan needs.
        if (headersOnly) {
            const size_t after = static_cast<size_t>(definitions.data() - text.data()) + definitions.size();
            if (!memmem(text.data() + after, text.size() - after, "DEFINITIONS", 11)) {
                modules.push_back(std::move(m));
                return modules;
            }
        }
        // Body up to END.
        while (t.Has(i) && t[i] != "END") {
            const std::string_view name = t[i];
            const std::string_view next = t[i + 1];
            if (next == "MACRO") {
                while (t.Has(i) && t[i] != "END") ++i;
                ++i;
                continue;
            }
            DefKind kind;
            if (IsKeywordAfterName(next, &kind)) {
                m.definitions.emplace_back(std::string(name), kind);
                if (kind == DefKind::Object) {
                    size_t k = i + 2;
                    while (t.Has(k) && t[k] != "SYNTAX" && t[k] != "::=") ++k;
                    if (t[k] == "SYNTAX") {
                        SmiSyntax syntax;
                        const size_t u = ReadSyntax(t, k + 1, &syntax);
                        const std::string_view units = t[u + 1];
                        if (t[u] == "UNITS" && units.size() >= 2 && units[0] == '"')
                            syntax.units = std::string(units.substr(1, units.size() - 2));
                        m.objects[std::string(name)] = std::move(syntax);
                    }
                }
                i += 2;
                continue;
            }
            if (next == "OBJECT" && t[i + 2] == "IDENTIFIER" && t[i + 3] == "::=") {
                m.definitions.emplace_back(std::string(name), DefKind::Node);
                i += 4;
                continue;
            }
            if (next == "::=" && !name.empty() && (ClassOf(name[0]) & kUpper)) {
                size_t k = i + 2;
                SmiSyntax syntax;
                if (t[k] == "TEXTUAL-CONVENTION") {
                    while (t.Has(k) && t[k] != "SYNTAX" && t[k] != "::=" && t[k] != "END") ++k;
                    if (t[k] == "SYNTAX") k = ReadSyntax(t, k + 1, &syntax);
                } else {
                    k = ReadSyntax(t, k, &syntax);
                }
                if (!syntax.base.empty() && syntax.base != "SEQUENCE" && syntax.base != "CHOICE")
                    m.types[std::string(name)] = std::move(syntax);
                i = k > i + 2 ? k : i + 2;
                continue;
            }
            ++i;
        }
        ++i;
        modules.push_back(std::move(m));
    }
    return modules;
}

}  // namespace

std::string FirstModuleName(std::string_view text) {
    Lexer lexer(text);
    std::string_view previous, beforeBrace;
    int depth = 0;
    for (int count = 0; count < 100000; ++count) {
        const std::string_view t = lexer.Next();
        if (t.empty()) return {};
        if (t == "{") {
            if (depth++ == 0) beforeBrace = previous;
            continue;
        }
        if (t == "}") {
            if (depth > 0 && --depth == 0) previous = beforeBrace;
            continue;
        }
        if (depth > 0) continue;
        if (t == "DEFINITIONS") return std::string(previous);
        previous = t;
    }
    return {};
}

std::vector<SmiModule> ScanModules(std::string_view text, const std::string& file) {
    return Scan(text, file, false);
}

std::vector<SmiModule> ScanModuleHeaders(std::string_view text, const std::string& file) {
    return Scan(text, file, true);
}

bool InvokesTrapType(std::string_view text) {
    constexpr std::string_view kWord = "TRAP-TYPE";
    for (size_t p = text.find(kWord); p != std::string_view::npos; p = text.find(kWord, p + 1)) {
        // The rest of the word, then blanks and comments, then ENTERPRISE.
        size_t q = p + kWord.size();
        while (q < text.size() && IsNameChar(text[q]) && text.compare(q, 2, "--") != 0) ++q;
        for (;;) {
            while (q < text.size() && (ClassOf(text[q]) & kSpace)) ++q;
            if (text.compare(q, 2, "--") != 0) break;
            q += 2;
            while (q < text.size() && text[q] != '\n' && text.compare(q, 2, "--") != 0) ++q;
            if (q < text.size() && text[q] == '-') q += 2;
        }
        if (text.compare(q, 10, "ENTERPRISE") == 0) return true;
    }
    return false;
}

}  // namespace vs
