// Token rules and line numbers of the two tokenizers, and reading files into the source.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "mib/mib_source.h"
#include "mib/mib_tokenizer.h"
#include "mib_support.h"

namespace velk::mib {
namespace {

struct Tok {
    std::string text;
    uint32_t line;
    bool operator==(const Tok&) const = default;
};
void PrintTo(const Tok& t, std::ostream* os) { *os << "'" << t.text << "'@" << t.line; }

std::vector<Tok> Tokens(std::string_view text) {
    MibSource source;
    EXPECT_TRUE(source.SetText(text));
    MibTokenizer tok(source);
    std::vector<Tok> out;
    MibToken t = tok.Begin();
    for (tok.Next(t); t.length != 0; tok.Next(t)) out.push_back({std::string(tok.View(t)), t.line});
    return out;
}

std::vector<Tok> LineTokens(std::string_view text) {
    MibSource source;
    EXPECT_TRUE(source.SetText(text));
    MibLineTokenizer tok(source);
    std::vector<Tok> out;
    MibLineToken t;
    while (tok.Next(&t)) out.push_back({std::string(t.text), t.line});
    return out;
}

std::vector<std::string> Texts(const std::vector<Tok>& tokens) {
    std::vector<std::string> out;
    for (const Tok& t : tokens) out.push_back(t.text);
    return out;
}

using Words = std::vector<std::string>;

TEST(MibTokenizer, SplitsTextIntoTokens) {
    struct Case {
        const char* text;
        Words tokens;
    } cases[] = {
        {"sysDescr OBJECT-TYPE", {"sysDescr", "OBJECT-TYPE"}},
        {"{ system  1 }", {"{", "system", "1", "}"}},
        {"{system 1}", {"{", "system", "1", "}"}},
        {"a::=b", {"a", "::=", "b"}},
        {"a:b", {"a", ":", "b"}},
        {"a ::= b", {"a", "::=", "b"}},
        {"a:::=b", {"a", ":", "::=", "b"}},
        {"SYNTAX OCTET STRING (SIZE (0..255))", {"SYNTAX", "OCTET", "STRING", "(SIZE", "(0..255))"}},
        {"INTEGER(0..255) read-only iso(1)", {"INTEGER(0..255)", "read-only", "iso(1)"}},
        {"a,b;c[d]\"e\"", {"a", ",", "b", ";", "c", "[", "d", "]", "\"", "e", "\""}},
        {"lastToken", {"lastToken"}},
        {"-1 a-b -x", {"-1", "a-b", "-x"}},
        {"a--b", {"a--b"}},
        {"", {}},
        {" \t\r\n ", {}},
        // Comments.
        {"-- comment -- word", {"word"}},
        {"--comment--word", {"word"}},
        {"a -- to the end of the line\nb", {"a", "b"}},
        {"---x", {"x"}},
        {"-----word", {"word"}},
        {"------------------------\nx", {"x"}},
        {"-- a -- -- b", {"b"}},
        {"-- a - b\nc", {"c"}},
        {"-- unterminated", {}},
        {"x --", {"x"}},
    };
    for (const Case& c : cases) EXPECT_EQ(Texts(Tokens(c.text)), c.tokens) << c.text;
}

TEST(MibTokenizer, CountsEachLineFeedOnce) {
    EXPECT_EQ(Tokens("a {\n b,\n c\n}"),
              (std::vector<Tok>{{"a", 1}, {"{", 1}, {"b", 2}, {",", 2}, {"c", 3}, {"}", 4}}));
    EXPECT_EQ(Tokens("a -- x\n-- y\n\r\n b"), (std::vector<Tok>{{"a", 1}, {"b", 4}}));
    EXPECT_EQ(Tokens("-- a -- \nb"), (std::vector<Tok>{{"b", 2}}));
}

TEST(MibTokenizer, QuotedStringIsVerbatimAndCountsLines) {
    MibSource source;
    ASSERT_TRUE(source.SetText("DESCRIPTION \"one\n  two -- not a comment\n3\n4\n five \" next \"\" last \"open"));
    MibTokenizer tok(source);
    MibToken t = tok.Begin();
    tok.Next(t);
    tok.Next(t);
    ASSERT_EQ(tok.View(t), "\"");
    EXPECT_EQ(tok.QuotedString(t), "one\n  two -- not a comment\n3\n4\n five ");
    EXPECT_EQ(tok.View(t), "next");
    EXPECT_EQ(t.line, 5u);
    tok.Next(t);
    EXPECT_EQ(tok.QuotedString(t), "");
    EXPECT_EQ(tok.View(t), "last");
    tok.Next(t);
    EXPECT_EQ(tok.QuotedString(t), "open");
    EXPECT_EQ(t.length, 0u);
}

TEST(MibTokenizer, RewindReadsTheTokenAgainWithItsLine) {
    MibSource source;
    ASSERT_TRUE(source.SetText("a\nb\n\nc d"));
    MibTokenizer tok(source);
    MibToken t = tok.Begin();
    tok.Next(t);
    tok.Next(t);
    const MibToken b = t;
    tok.Next(t);
    tok.Next(t);
    EXPECT_EQ(tok.View(t), "d");
    tok.Rewind(t, b);
    tok.Next(t);
    EXPECT_EQ(tok.View(t), "b");
    EXPECT_EQ(t.line, 2u);
    tok.Next(t);
    EXPECT_EQ(tok.View(t), "c");
    EXPECT_EQ(t.line, 4u);
}

TEST(MibTokenizer, EndOfTextRepeats) {
    MibSource source;
    ASSERT_TRUE(source.SetText("x"));
    MibTokenizer tok(source);
    MibToken t = tok.Begin();
    tok.Next(t);
    tok.Next(t);
    EXPECT_EQ(t.length, 0u);
    tok.Next(t);
    EXPECT_EQ(t.length, 0u);
}

TEST(MibLineTokenizer, SplitsLinesIntoTokens) {
    struct Case {
        const char* text;
        Words tokens;
    } cases[] = {
        {"a::=b", {"a", "::=", "b"}},
        {"a:b", {"a:b"}},
        {"SYNTAX OCTET STRING (SIZE (0..255))", {"SYNTAX", "OCTET STRING", "(SIZE", "(0..255))"}},
        {"OCTET  STRING", {"OCTET", "STRING"}},
        {"{a,b}", {"{", "a", ",", "b", "}"}},
        {"-- a comment", {"--", "a", "comment"}},
        {"x\r\n\ty", {"x", "\r", "\n", "y"}},
        {"\"q\"", {"\"", "q", "\""}},
        {"last", {"last"}},
    };
    for (const Case& c : cases) EXPECT_EQ(Texts(LineTokens(c.text)), c.tokens) << c.text;
}

TEST(MibLineTokenizer, LineFeedTokenCountsAfterItIsReturned) {
    EXPECT_EQ(LineTokens("a\nb\r\nc"),
              (std::vector<Tok>{{"a", 1}, {"\n", 1}, {"b", 2}, {"\r", 2}, {"\n", 2}, {"c", 3}}));
}

TEST(MibSource, ReadsRegularFilesOnly) {
    testing::TempDir dir;
    MibSource source;
    EXPECT_EQ(source.LoadFile(dir.Write("m.txt", std::string("ab\0cd", 5))), 0);
    EXPECT_EQ(source.Text(), "ab") << "a NUL ends the text";

    const std::string fifo = (dir.Path() / "fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string big = (dir.Path() / "big").string();
    {
        const int fd = ::open(big.c_str(), O_CREAT | O_WRONLY, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, static_cast<off_t>(MibSource::kMaxFileSize + 1)), 0);  // sparse
        ::close(fd);
    }
    const std::string refused[] = {
        (dir.Path() / "missing.txt").string(), dir.Path().string(), fifo, "/dev/null", big, "",
        std::string("m.txt\0x", 7),
    };
    for (const std::string& name : refused) {
        EXPECT_EQ(source.LoadFile(name), -1) << name;
        EXPECT_EQ(source.Size(), 0u);
    }
}

TEST(MibSource, BufferOnlyGrows) {
    testing::TempDir dir;
    MibSource source;
    ASSERT_EQ(source.LoadFile(dir.Write("big.txt", std::string(1000, 'x'))), 0);
    EXPECT_EQ(source.Capacity(), 1001u);
    ASSERT_EQ(source.LoadFile(dir.Write("small.txt", "abc")), 0);
    EXPECT_EQ(source.Capacity(), 1001u);
    EXPECT_EQ(source.Text(), "abc");
    EXPECT_EQ(source.Data()[3], '\0');
}

}  // namespace
}  // namespace velk::mib
