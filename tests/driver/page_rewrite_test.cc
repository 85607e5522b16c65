#include "page_rewrite.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

namespace {

class StringSink final : public DecodeSink {
 public:
  void put(const char* bytes, std::size_t count) override {
    text.append(bytes, count);
  }
  std::string text;
};

std::optional<std::string> to_file(std::string_view reference,
                                   std::string_view /*base*/) {
  if (reference.find("h.example") == std::string_view::npos) return {};
  return "files/" + std::string(reference.substr(reference.rfind('/') + 1));
}

// Whatever runs a page arrives in, its file holds what the whole-page
// rewrite gives: the sink is where a rewriter that resumes across runs goes.
TEST(RewritingSink, EveryCutIntoTwoRunsGivesTheWholePageRewrite) {
  const struct {
    PartSyntax syntax;
    std::string page;
  } cases[] = {
      {PartSyntax::html,
       "<!-- <img src=\"https://h.example/c.png\"> --><base href=\"x/\">"
       "<img src=\"https://h.example/a.png\" srcset=\"https://h.example/b.png "
       "2x, q.png 1x\"><p style='background:url(https://h.example/d.png)'>"
       "<style>@import \"https://h.example/s.css\";</style>"
       "<script>var s=\"https://h.example/no.png\";</script>"},
      {PartSyntax::css,
       "/* url(https://h.example/n.png) */ a{b:url( 'https://h.example/"
       "e.png' )} @import url(https://h.example/t.css);"},
  };
  for (const auto& c : cases) {
    std::string whole;
    const RewriteReport expected =
        rewrite_references(c.page, c.syntax, "utf-8", to_file, whole);
    ASSERT_EQ(expected.status, RewriteStatus::rewritten);
    for (std::size_t cut = 0; cut <= c.page.size(); ++cut) {
      StringSink file;
      RewritingSink sink(c.syntax, "utf-8", to_file, file);
      const std::string_view page = c.page;
      sink.put(page.data(), cut);
      sink.put(page.data() + cut, page.size() - cut);
      sink.finish();
      EXPECT_EQ(file.text, whole) << cut;
      EXPECT_EQ(sink.report().references, expected.references) << cut;
    }
  }
}

}  // namespace
