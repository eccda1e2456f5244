// A file name in a page: shown literally, in ASCII, whatever bytes it holds.
#include <gtest/gtest.h>

#include "write/html_text.h"

namespace {

TEST(HtmlText, NamesAreEscapedToAsciiThatShowsThemLiterally) {
    const struct {
        const char* text;
        const char* html;
    } cases[] = {
        {"terrain.vxl", "terrain.vxl"},
        {"<b>&\"x'</b>.vxl", "&lt;b&gt;&amp;&quot;x&#39;&lt;/b&gt;.vxl"},
        {"t\xc3\xaate.nii.gz", "t&#xEA;te.nii.gz"},
        {"\xe2\x82\xac\xf0\x9f\x98\x80", "&#x20AC;&#x1F600;"},
        // Not UTF-8: a stray byte, an overlong "/", a surrogate, a cut sequence.
        {"a\xff"
         "b",
         "a&#xFFFD;b"},
        {"\xc0\xaf", "&#xFFFD;&#xFFFD;"},
        {"\xed\xa0\x80", "&#xFFFD;&#xFFFD;&#xFFFD;"},
        {"x\xe2\x82", "x&#xFFFD;&#xFFFD;"},
        {"\xf4\x90\x80\x80", "&#xFFFD;&#xFFFD;&#xFFFD;&#xFFFD;"},
        // Control characters, C1 ones too, show as the replacement.
        {"a\nb\tc\x7f"
         "d\xc2\x85",
         "a&#xFFFD;b&#xFFFD;c&#xFFFD;d&#xFFFD;"},
        {"", ""},
    };
    for (const auto& c : cases) {
        const std::string html = escapeHtml(c.text);
        EXPECT_EQ(html, c.html) << c.text;
        for (char ch : html)
            EXPECT_TRUE(ch >= 0x20 && ch < 0x7f && ch != '<' && ch != '"' && ch != '\'') << html;
    }
}

TEST(HtmlText, NumbersAreGroupedInThousands) {
    EXPECT_EQ(groupedNumber(0), "0");
    EXPECT_EQ(groupedNumber(999), "999");
    EXPECT_EQ(groupedNumber(1000), "1,000");
    EXPECT_EQ(groupedNumber(10394), "10,394");
    EXPECT_EQ(groupedNumber(1234567), "1,234,567");
    EXPECT_EQ(groupedNumber(-1234), "-1,234");
}

} // namespace
