#include "manifest.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Manifest, ArchiveRecordShowsOnlyWhatTheLayoutHolds) {
  MimeArchive mime;
  mime.layout = MimeLayout::single;
  mime.subject = "Zpr\xc3\xa1va";
  const struct {
    ArchiveFacts facts;
    std::string record;
  } cases[] = {
      {{"a.mht", nullptr, ""},
       R"({"record":"archive","path":"a.mht","layout":"office"})"},
      {{"b.mht", &mime, "b/index.html"},
       "{\"record\":\"archive\",\"path\":\"b.mht\",\"layout\":\"single\","
       "\"subject\":\"Zpr\xc3\xa1va\",\"main_page\":\"b/index.html\"}"},
  };
  for (const auto& c : cases) EXPECT_EQ(archive_record(c.facts), c.record);
}

TEST(Manifest, TextThatIsNotUtf8GoesAsBase64UnderItsOwnKey) {
  MimeLeaf leaf;
  leaf.content_type = "text/plain";
  leaf.content_id = "a\"b\x01";  // JSON escapes, still UTF-8
  leaf.location = "http://x/\xe9";
  PartFacts facts;
  facts.index = 3;
  facts.leaf = &leaf;
  facts.location = leaf.location;
  facts.encoding = Encoding::as_is;
  facts.size = 42;
  facts.sha256 = "00";
  facts.path = "x/\xff\xfe";
  facts.refused = true;
  EXPECT_EQ(
      part_record(facts),
      R"({"record":"part","index":3,"location_base64":"aHR0cDovL3gv6Q==",)"
      R"("content_id":"a\"b\u0001","content_type":"text/plain",)"
      R"("decoded_as":"none","size":42,"sha256":"00",)"
      R"("path_base64":"eC///g==","refused":"unsafe_path"})");
}

}  // namespace
