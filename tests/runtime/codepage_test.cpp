#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "runtime/clock.h"
#include "velk/com.h"
#include "velk/oleauto.h"

namespace {

TEST(CodePage, EveryByteRoundTrips) {
    std::string bytes;
    for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(b));
    velk::Bstr text = velk::Bstr::FromAnsi(bytes);
    ASSERT_EQ(text.Length(), 256u);
    for (int b = 0; b < 256; ++b) EXPECT_EQ(text.Get()[b], static_cast<OLECHAR>(b));
    EXPECT_EQ(text.ToAnsi(), bytes);
}

TEST(CodePage, OtherCharactersBecomeQuestionMarksOneForOne) {
    const OLECHAR text[] = {u'A', 0x0100, 0x20AC, 0xD83D, 0xDE00, 0x00FF};
    char out[6];
    ASSERT_EQ(VelkWideToAnsi(text, 6, out, 6), 6);
    EXPECT_EQ(std::string(out, 6), "A????\xFF");
}

TEST(CodePage, CountsAndNeverWritesPastTheOutput) {
    EXPECT_EQ(VelkAnsiToWide("abcd", 4, nullptr, 0), 4);
    EXPECT_EQ(VelkAnsiToWide("ab", -1, nullptr, 0), 3);  // NUL-terminated: the NUL counts
    EXPECT_EQ(VelkWideToAnsi(u"abcd", 4, nullptr, 0), 4);

    OLECHAR wide[4] = {u'#', u'#', u'#', u'#'};
    EXPECT_EQ(VelkAnsiToWide("xyz", 3, wide, 2), 2);
    EXPECT_EQ(wide[1], u'y');
    EXPECT_EQ(wide[2], u'#');
    char narrow[4] = {'#', '#', '#', '#'};
    EXPECT_EQ(VelkWideToAnsi(u"xyz", 3, narrow, 2), 2);
    EXPECT_EQ(narrow[2], '#');
    EXPECT_EQ(VelkWideToAnsi(u"xyz", 3, narrow, -5), 0);
    EXPECT_EQ(VelkAnsiToWide(nullptr, 3, wide, 4), 0);
}

// The clocks live beside the code page in the runtime; their seam is tested here.
ULONGLONG FixedTime() { return 42; }
DWORD NearWrap() { return 0xFFFFFFF0u; }

TEST(Clock, SystemTimeCountsFrom1601AndTheSeamReplacesIt) {
    using namespace std::chrono;
    const auto unix100ns = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count() / 100;
    const auto expected = static_cast<ULONGLONG>(unix100ns) + 116444736000000000ULL;
    const ULONGLONG now = VelkSystemTime100ns();
    EXPECT_LT(now > expected ? now - expected : expected - now, 10000000ULL);  // within a second

    const DWORD t0 = VelkTickCount();
    EXPECT_LT(static_cast<DWORD>(VelkTickCount() - t0), 1000u);

    velk::rt::SetClockForTesting(&FixedTime, &NearWrap);
    EXPECT_EQ(VelkSystemTime100ns(), 42u);
    EXPECT_EQ(VelkTickCount(), 0xFFFFFFF0u);
    velk::rt::SetClockForTesting(nullptr, nullptr);
    EXPECT_GT(VelkSystemTime100ns(), 42u);
}

}  // namespace
