#include "platform/text.h"

#include <gtest/gtest.h>

namespace vexo {
namespace {

TEST(Utf8, PrefixNeverSplitsASequenceAndUtf16RoundTrips) {
  const std::string text = "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80z";  // a é 中 😀 z
  EXPECT_EQ(Utf8Length(text), 5u);
  EXPECT_EQ(Utf8Prefix(text, 3), "a\xC3\xA9\xE4\xB8\xAD");
  EXPECT_EQ(Utf8PrefixBytes(text, 2), "a");
  EXPECT_EQ(Utf8PrefixBytes(text, 3), "a\xC3\xA9");
  EXPECT_EQ(Utf8PrefixBytes(text, 9), "a\xC3\xA9\xE4\xB8\xAD");
  // UTF-16 round trips keep surrogate pairs and replace garbage.
  const std::u16string wide = Utf8ToUtf16(text);
  ASSERT_EQ(wide.size(), 6u);
  EXPECT_EQ(wide[3], 0xD83D);
  EXPECT_EQ(Utf16ToUtf8(wide), text);
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16("\xFF"
                                    "a")),
            "\xEF\xBF\xBD"
            "a");
  EXPECT_EQ(Utf8Length("\xC3"), 1u);  // a truncated sequence is one stray byte
}

TEST(CodePages, ConvertBothWaysAndFailOrReplace) {
  EXPECT_EQ(CodePageToUtf8(1252, "caf\xE9").value(), "caf\xC3\xA9");
  EXPECT_EQ(Utf8ToCodePage(1252, "caf\xC3\xA9").value(), "caf\xE9");
  EXPECT_EQ(Utf8ToCodePage(936, "\xE4\xB8\xAD").value(), "\xD6\xD0");  // 中 in GBK
  EXPECT_EQ(Utf8ToCodePage(950, "\xE4\xB8\xAD").value(), "\xA4\xA4");  // 中 in BIG5
  EXPECT_EQ(CodePageToUtf8(936, "\xD6\xD0").value(), "\xE4\xB8\xAD");
  EXPECT_FALSE(Utf8ToCodePage(1252, "\xE4\xB8\xAD").has_value());
  EXPECT_EQ(Utf8ToCodePage(1252,
                           "a\xE4\xB8\xAD"
                           "b",
                           true)
                .value(),
            "a?b");
  EXPECT_FALSE(CodePageToUtf8(936, "\xD6").has_value());  // half a double-byte character
  EXPECT_EQ(CodePageToUtf8(936, "a\xFF", true).value(), "a\xEF\xBF\xBD");
}

TEST(Format, LimitsCharactersNotBytesAndUnknownErrorsHaveNoText) {
  EXPECT_EQ(Format(3, "%s", "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"), "\xC3\xA9\xC3\xA9\xC3\xA9");
  EXPECT_EQ(Format(100, "%d-%s", 7, "x"), "7-x");
  EXPECT_FALSE(SystemErrorText(987654).has_value());  // known codes: every error report
}

}  // namespace
}  // namespace vexo
