#include "path_transcoder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(PathTranscoder, LegacyBytesBecomeUtf8) {
  const struct {
    const char* charset;
    std::string bytes;
    std::string expected;
  } cases[] = {
      {"windows-1250", "\xf8\x9e", "\xc5\x99\xc5\xbe"},  // ř ž
      {"ISO-8859-2", "\xb9", "\xc5\xa1"},                // š
      {"koi8-r", "\xc1", "\xd0\xb0"},                    // а
      {"shift_jis", "\x82\xa0", "\xe3\x81\x82"},         // あ
  };
  for (const auto& c : cases) {
    PathTranscoder transcoder(c.charset);
    ASSERT_TRUE(transcoder.active()) << c.charset;
    std::string out = "img/";
    EXPECT_TRUE(transcoder.append_utf8(out, c.bytes)) << c.charset;
    EXPECT_EQ(out, "img/" + c.expected) << c.charset;
  }
}

TEST(PathTranscoder, NothingToDoForUtf8NoneOrUnknown) {
  for (const char* charset : {"", "UTF-8", "utf8", "\"Utf-8\"", "x-no-such"}) {
    PathTranscoder transcoder(charset);
    EXPECT_FALSE(transcoder.active()) << charset;
    std::string out = "kept";
    EXPECT_FALSE(transcoder.append_utf8(out, "\xe1"));
    EXPECT_EQ(out, "kept");
  }
}

TEST(PathTranscoder, BytesThatAreNoCharacterLeaveTheOutputAsItWas) {
  PathTranscoder transcoder("shift_jis");
  std::string out = "a/";
  EXPECT_FALSE(transcoder.append_utf8(out, "\x82"));  // half a character
  EXPECT_EQ(out, "a/");
  EXPECT_TRUE(transcoder.append_utf8(out, "\x82\xa0"));  // state was reset
  EXPECT_EQ(out, "a/\xe3\x81\x82");
}

}  // namespace
