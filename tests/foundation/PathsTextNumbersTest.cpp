#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include <gtest/gtest.h>
#include <iconv.h>

#include "foundation/Numbers.h"
#include "foundation/Paths.h"
#include "foundation/Text.h"

namespace sonitor {
namespace {

TEST(Paths, PartsUnderstandBothSeparators) {
    EXPECT_EQ(DirectoryPart("a\\b/c.wav"), "a\\b");
    EXPECT_EQ(FileNamePart("a\\b/c.wav"), "c.wav");
    EXPECT_EQ(FileNamePart("a/b\\c.wav"), "c.wav");
    EXPECT_EQ(DirectoryPart("c.wav"), "");
    EXPECT_EQ(FileNamePart("c.wav"), "c.wav");
    EXPECT_EQ(FileNamePart("dir/"), "");

    EXPECT_EQ(ExtensionPart("dir.x/file"), "");
    EXPECT_EQ(ExtensionPart("dir.x\\file"), "");
    EXPECT_EQ(ExtensionPart(".bashrc"), ".bashrc");
    EXPECT_EQ(ExtensionPart("a/b.tar.gz"), ".gz");
    EXPECT_EQ(ExtensionPart("name."), ".");

    EXPECT_EQ(ReplaceExtension("a/b.wav", ".lck"), "a/b.lck");
    EXPECT_EQ(ReplaceExtension("a.d/b", ".lck"), "a.d/b");
    EXPECT_EQ(ReplaceExtension("x.tar.gz", ".z"), "x.tar.z");
    EXPECT_EQ(NormalizeSeparators("C:\\a\\b/c"), "C:/a/b/c");
}

TEST(Paths, JoinAddsOneSeparatorOnlyWhenNeeded) {
    EXPECT_EQ(JoinPath("", "x"), "x");
    EXPECT_EQ(JoinPath("a/", "x"), "a/x");
    EXPECT_EQ(JoinPath("a\\", "x"), "a\\x");
    EXPECT_EQ(JoinPath("a", "x"), "a/x");
    EXPECT_EQ(JoinPath("/", "x"), "/x");
    EXPECT_EQ(JoinPath("a", "b", ".wav"), "a/b.wav");
}

TEST(Paths, BoundedCopyNeverSplitsACharacter) {
    // 1- to 4-byte characters; every cut must give a valid prefix that lost
    // at most the one character the cut fell into.
    const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5z\xC3\xA9";
    for (size_t cut = 0; cut <= text.size() + 1; ++cut) {
        const std::string copy = BoundedCopy(text, cut);
        EXPECT_TRUE(IsValidUtf8(copy)) << cut;
        EXPECT_EQ(text.compare(0, copy.size(), copy), 0) << cut;
        EXPECT_LE(copy.size(), cut);
        EXPECT_GE(copy.size() + 3, std::min(cut, text.size())) << cut;
    }
    EXPECT_EQ(BoundedCopy(std::string(258, 'a') + "\xC3\xA9", 259), std::string(258, 'a'));
}

TEST(Text, Utf8Validation) {
    for (const char* good : {"", "abc", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x8E\xB5", "\xF4\x8F\xBF\xBF",
                             "\xED\x9F\xBF", "\xEE\x80\x80"}) {
        EXPECT_TRUE(IsValidUtf8(good)) << good;
    }
    for (const char* bad : {"\x80", "\xC3", "\xE2\x82", "\xC0\xAF", "\xC1\xBF", "\xE0\x80\xAF",
                            "\xF0\x80\x80\xAF", "\xED\xA0\x80", "\xED\xBF\xBF", "\xF4\x90\x80\x80",
                            "\xF8\x88\x80\x80\x80", "\xFF", "a\xC3(", "\xE9t\xE9"}) {
        EXPECT_FALSE(IsValidUtf8(bad)) << bad;
    }
}

TEST(Text, Cp1252AgreesWithIconvAndKeepsUndefinedBytes) {
    iconv_t cd = iconv_open("UTF-8", "CP1252");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
    for (int b = 1; b < 256; ++b) {
        const std::string in(1, static_cast<char>(b));
        const std::string ours = Cp1252ToUtf8(in);
        EXPECT_TRUE(IsValidUtf8(ours)) << b;
        char inBuf[1] = {static_cast<char>(b)};
        char outBuf[8];
        char* inPtr = inBuf;
        char* outPtr = outBuf;
        size_t inLeft = 1;
        size_t outLeft = sizeof outBuf;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1)) {
            EXPECT_EQ(ours, std::string(outBuf, outPtr)) << b;
        } else {
            // Bytes the code page leaves undefined become their C1 code point.
            EXPECT_TRUE(b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D) << b;
            EXPECT_EQ(ours, std::string("\xC2") + static_cast<char>(b)) << b;
        }
    }
    iconv_close(cd);

    EXPECT_EQ(AnsiToUtf8("caf\xC3\xA9"), "caf\xC3\xA9");  // already UTF-8: untouched
    EXPECT_EQ(AnsiToUtf8("caf\xE9 \x80"), "caf\xC3\xA9 \xE2\x82\xAC");
    const std::string long1252(300, '\xE9');
    EXPECT_EQ(AnsiToUtf8(long1252).size(), 258u);
    EXPECT_EQ(Cp1252ToUtf8(long1252).size(), 600u);
}

TEST(Text, CaseAndFormat) {
    EXPECT_EQ(ToLowerAscii("AbC-\xC3\x89Z"), "abc-\xC3\x89z");
    EXPECT_TRUE(EqualsIgnoreCase("Components\\LAME", "components\\lame"));
    EXPECT_FALSE(EqualsIgnoreCase("a", "ab"));
    EXPECT_FALSE(EqualsIgnoreCase("\xC3\xA9", "\xC3\x89"));
    EXPECT_EQ(Format("%d|%s|%05.1f", -3, "x", 2.25), "-3|x|002.2");
    const std::string big(5000, 'q');
    EXPECT_EQ(Format("<%s>", big.c_str()), "<" + big + ">");
    EXPECT_EQ(Format("%s", ""), "");
}

TEST(Numbers, FramesFromMillisecondsIsExactAndSaturates) {
    EXPECT_EQ(FramesFromMilliseconds(3600000, 96000), 345600000);
    // For non-negative times the split formula equals floor(ms * rate / 1000).
    for (int64_t ms : {0LL, 1LL, 999LL, 1000LL, 1001LL, 22675LL, 12345678LL, 44739242LL}) {
        for (int32_t rate : {1, 8000, 11025, 44100, 48000, 96000, 192000}) {
            const int64_t exact = ms * rate / 1000;
            if (exact > std::numeric_limits<int32_t>::max()) {
                EXPECT_EQ(FramesFromMilliseconds(ms, rate), std::numeric_limits<int32_t>::max());
            } else {
                EXPECT_EQ(FramesFromMilliseconds(ms, rate), exact) << ms << " " << rate;
            }
        }
    }
    EXPECT_EQ(FramesFromMilliseconds(-1500, 44100), -66150);
    EXPECT_EQ(FramesFromMilliseconds(std::numeric_limits<int64_t>::max(), 192000),
              std::numeric_limits<int32_t>::max());
    EXPECT_EQ(FramesFromMilliseconds(std::numeric_limits<int64_t>::min(), 192000),
              std::numeric_limits<int32_t>::min());
}

TEST(Numbers, ZeroFramesTouchesOnlyItsBlock) {
    int32_t buffer[10];
    std::fill(std::begin(buffer), std::end(buffer), 7);
    ZeroFrames(buffer + 1, 3, 2);
    const int32_t expected[10] = {7, 0, 0, 0, 0, 0, 0, 7, 7, 7};
    EXPECT_TRUE(std::equal(std::begin(buffer), std::end(buffer), expected));
    ZeroFrames(buffer, -1, 2);
    EXPECT_EQ(buffer[0], 7);
}

TEST(Numbers, DecibelBytes) {
    EXPECT_EQ(DecibelByteFromGain(0.0), -127);
    EXPECT_EQ(DecibelByteFromGain(-1.0), -127);
    EXPECT_EQ(DecibelByteFromGain(std::nan("")), -127);
    EXPECT_EQ(DecibelByteFromGain(1.0), 0);
    EXPECT_EQ(DecibelByteFromGain(2.0), 6);
    EXPECT_EQ(DecibelByteFromGain(0.5), -6);
    EXPECT_EQ(DecibelByteFromGain(1e7), 127);
    EXPECT_EQ(DecibelByteFromGain(1e-7), -127);
    // Gains whose level is exactly half a decibel off a whole one: halves go
    // away from zero (not to even, not up).
    for (const auto& [gain, expected] :
         {std::pair{1.0592537251772889, 1}, std::pair{0.29853826189179594, -11}}) {
        if (std::fabs(20 * std::log10(gain) - std::trunc(20 * std::log10(gain))) != 0.5) continue;
        EXPECT_EQ(DecibelByteFromGain(gain), expected) << gain;
    }
    EXPECT_DOUBLE_EQ(GainFromDecibelByte(20), 10.0);
    EXPECT_DOUBLE_EQ(GainFromDecibelByte(-40), 0.01);
    for (int v = -127; v <= 127; ++v)
        EXPECT_EQ(DecibelByteFromGain(GainFromDecibelByte(v)), v) << v;
}

}  // namespace
}  // namespace sonitor
