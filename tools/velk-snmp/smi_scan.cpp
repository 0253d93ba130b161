#include "smi_scan.h"

#include <cctype>

namespace vs {
namespace {

bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_'; }

class Lexer {
public:
    explicit Lexer(std::string_view text) : s_(text) {}

    // The next token, or an empty text at the end.
    SmiToken Next() {
        SkipBlanksAndComments();
        SmiToken t;
        t.line = line_;
        if (p_ >= s_.size()) return t;
        const size_t start = p_;
        const char c = s_[p_];
        if (c == '"') {
            ++p_;
            while (p_ < s_.size() && s_[p_] != '"') {
                if (s_[p_] == '\n') ++line_;
                ++p_;
            }
            if (p_ < s_.size()) ++p_;
        } else if (c == '\'') {
            ++p_;
            while (p_ < s_.size() && s_[p_] != '\'' && s_[p_] != '\n') ++p_;
            if (p_ < s_.size() && s_[p_] == '\'') ++p_;
            if (p_ < s_.size() && std::isalpha(static_cast<unsigned char>(s_[p_]))) ++p_;
        } else if (s_.substr(p_, 3) == "::=") {
            p_ += 3;
        } else if (s_.substr(p_, 2) == "..") {
            p_ += 2;
        } else if (IsNameChar(c)) {
            while (p_ < s_.size() && IsNameChar(s_[p_])) {
                if (s_[p_] == '-' && p_ + 1 < s_.size() && s_[p_ + 1] == '-') break;  // a comment
                ++p_;
            }
        } else {
            ++p_;
        }
        t.text = s_.substr(start, p_ - start);
        return t;
    }

private:
    void SkipBlanksAndComments() {
        while (p_ < s_.size()) {
            const char c = s_[p_];
            if (c == '\n') {
                ++line_;
                ++p_;
            } else if (std::isspace(static_cast<unsigned char>(c))) {
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
    int line_ = 1;
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

// Reads a syntax starting at tokens[i]; returns the position after it.
size_t ReadSyntax(const std::vector<SmiToken>& t, size_t i, SmiSyntax* out) {
    const size_t n = t.size();
    // Tags of the SMI's own type definitions: [APPLICATION 4] IMPLICIT ...
    if (i < n && t[i].text == "[") {
        while (i < n && t[i].text != "]") ++i;
        if (i < n) ++i;
    }
    if (i < n && t[i].text == "IMPLICIT") ++i;
    if (i >= n) return i;
    std::string_view a = t[i].text;
    std::string_view b = i + 1 < n ? t[i + 1].text : std::string_view();
    if ((a == "OCTET" && b == "STRING") || (a == "OBJECT" && b == "IDENTIFIER") || (a == "SEQUENCE" && b == "OF")) {
        out->base = std::string(a) + " " + std::string(b);
        i += 2;
    } else {
        out->base = std::string(a);
        i += 1;
    }
    if (i < n && t[i].text == "{") {
        int depth = 0;
        std::string named;
        for (; i < n; ++i) {
            if (t[i].text == "{") ++depth;
            if (t[i].text == "}") --depth;
            named += t[i].text;
            if (depth == 0) {
                ++i;
                break;
            }
        }
        if (out->base != "SEQUENCE") out->named = named;
    }
    return i;
}

}  // namespace

std::vector<SmiToken> TokenizeSmi(std::string_view text, size_t limit) {
    std::vector<SmiToken> out;
    out.reserve(limit ? limit : text.size() / 8);
    Lexer lexer(text);
    for (;;) {
        SmiToken t = lexer.Next();
        if (t.text.empty()) break;
        out.push_back(t);
        if (limit && out.size() >= limit) break;
    }
    return out;
}

std::string FirstModuleName(std::string_view text) {
    Lexer lexer(text);
    std::string_view previous, beforeBrace;
    int depth = 0;
    for (int count = 0; count < 100000; ++count) {
        SmiToken t = lexer.Next();
        if (t.text.empty()) return {};
        if (t.text == "{") {
            if (depth++ == 0) beforeBrace = previous;
            continue;
        }
        if (t.text == "}") {
            if (depth > 0 && --depth == 0) previous = beforeBrace;
            continue;
        }
        if (depth > 0) continue;
        if (t.text == "DEFINITIONS") return std::string(previous);
        previous = t.text;
    }
    return {};
}

std::vector<SmiModule> ScanModules(std::string_view text, const std::string& file) {
    std::vector<SmiModule> modules;
    const std::vector<SmiToken> t = TokenizeSmi(text);
    const size_t n = t.size();
    size_t i = 0;
    while (i < n) {
        // Module header: NAME [{ oid }] DEFINITIONS ... ::= BEGIN
        size_t j = i + 1;
        if (j < n && t[j].text == "{") {
            while (j < n && t[j].text != "}") ++j;
            ++j;
        }
        if (j >= n || t[j].text != "DEFINITIONS") {
            ++i;
            continue;
        }
        SmiModule m;
        m.name = std::string(t[i].text);
        m.file = file;
        while (j < n && t[j].text != "BEGIN") ++j;
        i = j + 1;
        if (i < n && t[i].text == "EXPORTS") {
            while (i < n && t[i].text != ";") ++i;
            ++i;
        }
        if (i < n && t[i].text == "IMPORTS") {
            ++i;
            while (i < n && t[i].text != ";") {
                if (t[i].text == "FROM" && i + 1 < n) {
                    const std::string name(t[i + 1].text);
                    if (name == "SNMPv2-SMI") m.smiV2 = true;
                    bool seen = false;
                    for (const std::string& x : m.imports) seen = seen || x == name;
                    if (!seen) m.imports.push_back(name);
                    ++i;
                }
                ++i;
            }
            ++i;
        }
        // Body up to END.
        while (i < n && t[i].text != "END") {
            const std::string_view name = t[i].text;
            const std::string_view next = i + 1 < n ? t[i + 1].text : std::string_view();
            if (next == "MACRO") {
                while (i < n && t[i].text != "END") ++i;
                ++i;
                continue;
            }
            DefKind kind;
            if (IsKeywordAfterName(next, &kind)) {
                m.definitions.emplace_back(std::string(name), kind);
                if (kind == DefKind::Object) {
                    size_t k = i + 2;
                    while (k < n && t[k].text != "SYNTAX" && t[k].text != "::=") ++k;
                    if (k < n && t[k].text == "SYNTAX") {
                        SmiSyntax syntax;
                        size_t u = ReadSyntax(t, k + 1, &syntax);
                        if (u < n && t[u].text == "UNITS" && u + 1 < n && t[u + 1].text.size() >= 2 &&
                            t[u + 1].text[0] == '"')
                            syntax.units = std::string(t[u + 1].text.substr(1, t[u + 1].text.size() - 2));
                        m.objects[std::string(name)] = syntax;
                    }
                }
                i += 2;
                continue;
            }
            if (next == "OBJECT" && i + 3 < n && t[i + 2].text == "IDENTIFIER" && t[i + 3].text == "::=") {
                m.definitions.emplace_back(std::string(name), DefKind::Node);
                i += 4;
                continue;
            }
            if (next == "::=" && !name.empty() && std::isupper(static_cast<unsigned char>(name[0]))) {
                size_t k = i + 2;
                SmiSyntax syntax;
                if (k < n && t[k].text == "TEXTUAL-CONVENTION") {
                    while (k < n && t[k].text != "SYNTAX" && t[k].text != "::=" && t[k].text != "END") ++k;
                    if (k < n && t[k].text == "SYNTAX") k = ReadSyntax(t, k + 1, &syntax);
                } else {
                    k = ReadSyntax(t, k, &syntax);
                }
                if (!syntax.base.empty() && syntax.base != "SEQUENCE" && syntax.base != "CHOICE")
                    m.types[std::string(name)] = syntax;
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

}  // namespace vs
