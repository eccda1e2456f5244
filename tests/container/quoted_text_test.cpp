#include <gtest/gtest.h>

#include "container/quoted_text.h"

#include <string>

TEST(QuotedText, ControlCharactersBecomeCEscapes) {
    using namespace std::string_literals;
    EXPECT_EQ(quotedText("a.npy"), "\"a.npy\"");
    EXPECT_EQ(quotedText("x\ny\x1b[2Jz"), "\"x\\ny\\x1b[2Jz\"");
    EXPECT_EQ(quotedText("\r\t\x7f"s + '\0' + "\x01"), "\"\\r\\t\\x7f\\x00\\x01\"");
    // The escape itself is escaped, so that no name can pass for an escape;
    // quotes only where they would close ours.
    EXPECT_EQ(quotedText("a\\n\"b"), "\"a\\\\n\\\"b\"");
    EXPECT_EQ(escapedText("a\\n\"b"), "a\\\\n\"b");
}

TEST(QuotedText, KeepsUtf8ButNotTerminalOrDirectionControls) {
    EXPECT_EQ(quotedText("\xc3\x9c\x62\xe6\x97\xa5\xf0\x9f\x99\x82"),
              "\"\xc3\x9c\x62\xe6\x97\xa5\xf0\x9f\x99\x82\"");
    // CSI as a C1 control in UTF-8 and as a raw byte; a right-to-left
    // override and an isolate; a line separator.
    EXPECT_EQ(escapedText("\xc2\x9b"
                          "2J"),
              "\\u009b2J");
    EXPECT_EQ(escapedText("\x9b"
                          "2J"),
              "\\x9b2J");
    EXPECT_EQ(escapedText("a\xe2\x80\xae"
                          "b\xe2\x81\xa6"
                          "c\xe2\x80\xa8"),
              "a\\u202eb\\u2066c\\u2028");
    // Not UTF-8: an overlong '/', a surrogate, a sequence cut by the end.
    EXPECT_EQ(escapedText("\xc0\xaf"), "\\xc0\\xaf");
    EXPECT_EQ(escapedText("\xed\xa0\x80"), "\\xed\\xa0\\x80");
    EXPECT_EQ(escapedText("a\xe2\x80"), "a\\xe2\\x80");
}

TEST(QuotedText, NoByteOrPairOfBytesReachesTheTerminalAsAControl) {
    for (int first = 0; first < 256; ++first)
        for (int second = 0; second < 256; ++second) {
            const std::string text{char(first), char(second), 'x'};
            const std::string shown = escapedText(text);
            for (size_t n = 0; n < shown.size(); ++n) {
                const unsigned char c = static_cast<unsigned char>(shown[n]);
                ASSERT_TRUE(c >= 0x20 && c != 0x7f) << first << " " << second;
                // A C1 control written in UTF-8 (U+0080 to U+009F).
                ASSERT_FALSE(c == 0xc2 && n + 1 < shown.size() &&
                             (static_cast<unsigned char>(shown[n + 1]) & 0xe0) == 0x80)
                    << first << " " << second;
            }
        }
}

TEST(QuotedText, LongTextIsCutAtWholeCharacters) {
    const std::string longName(45, 'a');
    EXPECT_EQ(quotedText(longName, 40), "\"" + std::string(40, 'a') + "\"...");
    EXPECT_EQ(quotedText(longName, 45), "\"" + longName + "\"");
    EXPECT_EQ(escapedText("aaa\xe6\x97\xa5", 4), "aaa...");
    EXPECT_EQ(escapedText("aaa\xe6\x97\xa5", 6), "aaa\xe6\x97\xa5");
    // A cut counts the file's bytes, not the escapes shown for them.
    EXPECT_EQ(escapedText("\n\n\n", 2), "\\n\\n...");
}
