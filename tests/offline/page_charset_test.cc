#include "page_charset.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// What a browser's prescan of the first 1,024 bytes finds.
TEST(PageCharset, MetaCharsetAsABrowserPrescansIt) {
  const struct {
    std::string page;
    std::string expected;
  } cases[] = {
      {"<meta charset=\"ISO-2022-JP\">", "ISO-2022-JP"},
      {"<META CHARSET=utf-7>", "utf-7"},
      {"<meta/charset='gbk'/>", "gbk"},
      {"<meta http-equiv=\"Content-Type\" "
       "content=\"text/html; charset=Shift_JIS\">",
       "Shift_JIS"},
      {"<meta content='text/html;charset=\"big5\"' "
       "http-equiv=content-type>",
       "big5"},
      {"<meta content=\"text/html; charset=utf-7\">", ""},  // no http-equiv
      {"<meta name=x content=\"charset=utf-7\">", ""},
      {"<!-- <meta charset=utf-7> --><meta charset=koi8-r>", "koi8-r"},
      {"<metadata charset=utf-7>", ""},
      {"<p>" + std::string(1020, 'x') + "<meta charset=utf-7>", ""},
      {"<meta charset=\"utf-7", ""},  // unterminated: nothing is sure
      {"", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(meta_charset(c.page), c.expected) << c.page.substr(0, 60);
}

// Byte order mark, then label, then <meta>; only pages read their <meta>.
TEST(PageCharset, OrderOfTheSources) {
  const std::string meta7 = "<meta charset=utf-7>";
  EXPECT_EQ(detect_page_charset(meta7, "", true).encoding,
            PageEncoding::unsupported);
  EXPECT_EQ(detect_page_charset(meta7, "", true).name, "utf-7");
  EXPECT_EQ(detect_page_charset(meta7, "", false).encoding,
            PageEncoding::bytes);  // a style sheet has no <meta>
  EXPECT_EQ(detect_page_charset(meta7, "utf-8", true).encoding,
            PageEncoding::bytes);
  EXPECT_EQ(detect_page_charset("\xEF\xBB\xBF" + meta7, "", true).encoding,
            PageEncoding::bytes);
  EXPECT_TRUE(detect_page_charset("<meta charset=shift_jis>", "", true)
                  .backslash_is_text);
}

}  // namespace
