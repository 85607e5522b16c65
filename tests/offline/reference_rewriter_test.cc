#include "reference_rewriter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace {

// The archive the cases refer to: what the resolver answers for a
// reference, looked up after the base (when there is one) is prefixed.
const std::map<std::string, std::string, std::less<>> HELD = {
    {"a.png", "img/a.png"},
    {"b.png", "img/b.png"},
    {"a.js", "js/a.js"},
    {"s.css", "css/s.css"},
    {"https://h/s.css", "h/s.css"},
    {"cid:part1@h", "cid/part1%40h"},
    {"page.html", "other/page.html"},
    {"x.png?a=1&b=2", "x.png%3Fa=1&b=2"},
    {"https://h/d/a.png", "h/d/a.png"},
    {"space.png", "d/a b.png"},  // unencoded: the rewriter must encode it
    {"caf\xc3\xa9.png", "caf%C3%A9.png"},
};

struct Case {
  const char* what;
  PartSyntax syntax;
  std::string charset;
  std::string input;
  std::string expected;  // the same as input: nothing is rewritten
  std::vector<std::string> asked = {};  // references the resolver saw
};

const PartSyntax HTML = PartSyntax::html;
const PartSyntax CSS = PartSyntax::css;

const Case CASES[] = {
    {"double quotes",
     HTML,
     "",
     "<img src=\"a.png\">",
     "<img src=\"img/a.png\">",
     {"a.png"}},
    {"single quotes", HTML, "", "<img src='a.png' >", "<img src='img/a.png' >"},
    {"no quotes", HTML, "", "<img src=a.png alt=x>",
     "<img src=img/a.png alt=x>"},
    {"no quotes before >", HTML, "", "<img src=a.png>", "<img src=img/a.png>"},
    {"spaces around =", HTML, "", "<img src = \"a.png\">",
     "<img src = \"img/a.png\">"},
    {"upper case", HTML, "", "<IMG SRC=\"a.png\"><Link HREF='s.css'>",
     "<IMG SRC=\"img/a.png\"><Link HREF='css/s.css'>"},
    {"href", HTML, "", "<link rel=stylesheet href=\"https://h/s.css\">",
     "<link rel=stylesheet href=\"h/s.css\">"},
    {"script src", HTML, "", "<script src=\"a.js\"></script>",
     "<script src=\"js/a.js\"></script>"},
    {"poster", HTML, "", "<video poster=\"a.png\"></video>",
     "<video poster=\"img/a.png\"></video>"},
    {"data", HTML, "", "<object data=\"a.png\"></object>",
     "<object data=\"img/a.png\"></object>"},
    {"background", HTML, "", "<body background=a.png>",
     "<body background=img/a.png>"},
    {"xlink:href", HTML, "", "<svg><image xlink:href=\"a.png\"/></svg>",
     "<svg><image xlink:href=\"img/a.png\"/></svg>"},
    {"cid", HTML, "", "<img src=\"cid:part1@h\">",
     "<img src=\"cid/part1%40h\">"},
    {"white space around the url", HTML, "", "<img src=\" a.png\n\">",
     "<img src=\" img/a.png\n\">"},
    {"srcset candidates",
     HTML,
     "",
     "<img srcset=\"a.png 1x, b.png 2x\" src=a.png>",
     "<img srcset=\"img/a.png 1x, img/b.png 2x\" src=img/a.png>",
     {"a.png", "b.png", "a.png"}},
    {"srcset without descriptors",
     HTML,
     "",
     "<img srcset=\"a.png, b.png,\"><img srcset=a.png,b.png>",
     "<img srcset=\"img/a.png, img/b.png,\"><img srcset=a.png,b.png>",
     {"a.png", "b.png", "a.png,b.png"}},
    {"srcset descriptors in parentheses", HTML, "",
     "<img srcset='a.png (x, y) 100w ,  b.png'>",
     "<img srcset='img/a.png (x, y) 100w ,  img/b.png'>"},
    {"imagesrcset", HTML, "", "<link imagesrcset=\"a.png 2x\">",
     "<link imagesrcset=\"img/a.png 2x\">"},
    {"style attribute", HTML, "",
     "<p style=\"background:url(a.png)\" STYLE='x:URL( \"b.png\" )'>",
     "<p style=\"background:url(img/a.png)\" STYLE='x:URL( \"img/b.png\" )'>"},
    {"style attribute with entity quotes", HTML, "",
     "<p style=\"background-image: url(&quot;a.png&quot;);\">",
     "<p style=\"background-image: url(&quot;img/a.png&quot;);\">"},
    {"style element", HTML, "",
     "<style>@import \"s.css\";@IMPORT url(s.css);\n"
     "p{background:url('a.png')}</style>",
     "<style>@import \"css/s.css\";@IMPORT url(css/s.css);\n"
     "p{background:url('img/a.png')}</style>"},
    {"entities decoded, ampersand escaped",
     HTML,
     "",
     "<a href=\"x.png?a=1&amp;b=2\">",
     "<a href=\"x.png%3Fa=1&amp;b=2\">",
     {"x.png?a=1&b=2"}},
    {"numeric entities", HTML, "",
     "<img src=\"a&#46;png\" srcset='a&#x2E;png'>",
     "<img src=\"img/a.png\" srcset='img/a.png'>"},
    {"entity for a non-ASCII letter",
     HTML,
     "",
     "<img src=\"caf&eacute;.png\">",
     "<img src=\"caf&eacute;.png\">",
     {}},
    {"fragment kept",
     HTML,
     "",
     "<a href=\"page.html#sec\">",
     "<a href=\"other/page.html#sec\">",
     {"page.html"}},
    {"fragment only",
     HTML,
     "",
     "<a href=\"#top\"><a href=''>",
     "<a href=\"#top\"><a href=''>",
     {}},
    {"unknown reference left",
     HTML,
     "",
     "<img src=\"unknown.png\"><a href=\"https://elsewhere/\">",
     "<img src=\"unknown.png\"><a href=\"https://elsewhere/\">",
     {"unknown.png", "https://elsewhere/"}},
    {"other attributes left",
     HTML,
     "",
     "<img alt=\"a.png\" title=a.png>",
     "<img alt=\"a.png\" title=a.png>",
     {}},
    {"comments",
     HTML,
     "",
     "<!-- <img src=\"a.png\"> --><!--><img src=a.png><!---->"
     "<!DOCTYPE html><![if !vml]><img src=b.png><![endif]>",
     "<!-- <img src=\"a.png\"> --><!--><img src=img/a.png><!---->"
     "<!DOCTYPE html><![if !vml]><img src=img/b.png><![endif]>",
     {"a.png", "b.png"}},
    {"scripts untouched",
     HTML,
     "",
     "<script>s = \"<img src='a.png'>\"; t = \"</scrip\";</script >"
     "<img src=b.png><SCRIPT type=x>url(a.png)</SCRIPT><img src=b.png>",
     "<script>s = \"<img src='a.png'>\"; t = \"</scrip\";</script >"
     "<img src=img/b.png><SCRIPT type=x>url(a.png)</SCRIPT><img "
     "src=img/b.png>",
     {"b.png", "b.png"}},
    {"raw text elements",
     HTML,
     "",
     "<title><img src=a.png></title><textarea><img src=a.png></textarea>",
     "<title><img src=a.png></title><textarea><img src=a.png></textarea>",
     {}},
    {"> inside quoted attributes",
     HTML,
     "",
     "<img alt=\"x > y\" src=\"a.png\"><img alt='<img src=\"b.png\">'>",
     "<img alt=\"x > y\" src=\"img/a.png\"><img alt='<img src=\"b.png\">'>",
     {"a.png"}},
    {"end tags and stray <", HTML, "", "a < b</p class=a.png><img src=a.png>",
     "a < b</p class=a.png><img src=img/a.png>"},
    {"base href in effect and cleared",
     HTML,
     "",
     "<img src=b.png><base href=\"https://h/d/\"><img src=\"a.png\">",
     "<img src=img/b.png><base href=\"\"><img src=\"h/d/a.png\">",
     {"b.png", "https://h/d/|a.png"}},
    {"base href unquoted", HTML, "",
     "<base target=_top href=https://h/d/><img src=\"a.png\">",
     "<base target=_top href=\"\"><img src=\"h/d/a.png\">"},
    {"after an emptied base, a reference to no part is written absolute",
     HTML,
     "",
     "<img src=b.png><base href=\"https://h/d/\"><img src=\"x.png\">",
     "<img src=img/b.png><base href=\"\"><img src=\"https://h/d/x.png\">",
     {"b.png", "https://h/d/|x.png"}},
    {"base emptied even when nothing names a part",
     HTML,
     "",
     "<base href=\"https://h/d/\"><img src=\"b.png\"><a href=\"#top\">",
     "<base href=\"\"><img src=\"https://h/d/b.png\"><a href=\"#top\">",
     {"https://h/d/|b.png"}},
    {"links read only against a base",
     HTML,
     "",
     "<form action=q><base href=\"https://h/d/\"><form action=q>"
     "<blockquote cite=c.html>",
     "<form action=q><base href=\"\"><form action=https://h/d/q>"
     "<blockquote cite=https://h/d/c.html>",
     {"https://h/d/|q", "https://h/d/|c.html"}},
    {"a base with an unknown character reference stays, and so does the rest",
     HTML,
     "",
     "<img src=a.png><base href=\"https://h/&bogus;/\"><img src=a.png>"
     "<style>p{b:url(a.png)}</style>",
     "<img src=img/a.png><base href=\"https://h/&bogus;/\"><img src=a.png>"
     "<style>p{b:url(a.png)}</style>",
     {"a.png"}},
    {"lazy-loading attributes", HTML, "",
     "<img data-src=a.png data-lazy-src='b.png' data-original=\"a.png\" "
     "data-srcset=\"a.png 1x, b.png 2x\" data-other=a.png>",
     "<img data-src=img/a.png data-lazy-src='img/b.png' "
     "data-original=\"img/a.png\" "
     "data-srcset=\"img/a.png 1x, img/b.png 2x\" data-other=a.png>"},
    {"crossorigin goes where a reference now names a file", HTML, "",
     "<img crossorigin src=a.png><img src=a.png crossorigin=\"anonymous\"/>"
     "<script src=x.js crossorigin></script>"
     "<link crossorigin=use-credentials href=s.css CROSSORIGIN>",
     "<img  src=img/a.png><img src=img/a.png />"
     "<script src=x.js crossorigin></script>"
     "<link  href=css/s.css >"},
    {"replacement encoded", HTML, "", "<img src=space.png>",
     "<img src=d/a%20b.png>"},
    {"utf-8 reference", HTML, "utf-8", "<img src=\"caf\xc3\xa9.png\">",
     "<img src=\"caf%C3%A9.png\">"},
    {"windows-1250 high bytes untouched", HTML, "windows-1250",
     "<p title=\"\x8a\xe8\">\x9a\xfd<img alt='\xe8' src=\"a.png\">\xe8</p>",
     "<p title=\"\x8a\xe8\">\x9a\xfd<img alt='\xe8' src=\"img/a.png\">"
     "\xe8</p>"},
    // A browser asks for the path of such a reference in UTF-8, and the
    // archive locates the part by what was asked for.
    {"windows-1250 path asked in utf-8",
     HTML,
     "windows-1250",
     "<img src=\"caf\xe9.png\"><p style=\"background:url('caf\xe9.png')\">",
     "<img src=\"caf%C3%A9.png\"><p style=\"background:url('caf%C3%A9.png')\">",
     {"caf\xc3\xa9.png", "caf\xc3\xa9.png"}},
    {"charset from meta, css part, character reference",
     HTML,
     "",
     "<meta charset=windows-1250><style>a{b:url( caf\xe9.png#f )}</style>"
     "<img src=\"caf&#233;\xe9.png?\xe9\">",
     "<meta charset=windows-1250><style>a{b:url( caf%C3%A9.png#f )}</style>"
     "<img src=\"caf&#233;\xe9.png?\xe9\">",
     {"caf\xc3\xa9.png", "caf\xc3\xa9\xc3\xa9.png?\xe9"}},
    {"stylesheet in windows-1250", CSS, "windows-1250", "a{b:url(caf\xe9.png)}",
     "a{b:url(caf%C3%A9.png)}"},
    {"unknown charset: the page's bytes",
     HTML,
     "x-no-such",
     "<img src=\"caf\xe9.png\">",
     "<img src=\"caf\xe9.png\">",
     {"caf\xe9.png"}},
    {"shift_jis backslash in a string is text", HTML, "Shift_JIS",
     "<style>p{content:\"\x95\x5c\"} q{background:url(a.png)}</style>",
     "<style>p{content:\"\x95\x5c\"} q{background:url(img/a.png)}</style>"},
    {"css forms", CSS, "",
     "@import url(\"s.css\") screen;\n@import 's.css';\n"
     "a{b:url(a.png)} c{d:url( b.png )}",
     "@import url(\"css/s.css\") screen;\n@import 'css/s.css';\n"
     "a{b:url(img/a.png)} c{d:url( img/b.png )}"},
    {"css comments, strings and other functions",
     CSS,
     "",
     "/* url(a.png) */ p{content:\"url(a.png)\"} q{x:myurl(a.png)}"
     " r{y:url(a.png#f)}",
     "/* url(a.png) */ p{content:\"url(a.png)\"} q{x:myurl(a.png)}"
     " r{y:url(img/a.png#f)}",
     {"a.png"}},
    {"css bad and escaped urls",
     CSS,
     "",
     "p{x:url(a\\.png)} q{x:url(a.png b)} r{x:url(a\"b)} s{x:url(a.png)}",
     "p{x:url(a\\.png)} q{x:url(a.png b)} r{x:url(a\"b)} s{x:url(img/a.png)}",
     {"a.png"}},
    {"unterminated markup",
     HTML,
     "",
     "<img src=\"a.png",
     "<img src=\"a.png",
     {}},
    {"unterminated comment",
     HTML,
     "",
     "<!-- <img src=a.png>",
     "<!-- <img src=a.png>",
     {}},
};

std::string resolve_key(std::string_view reference, std::string_view base) {
  std::string key(base);
  key += reference;
  return key;
}

// As the offline links answer: the file of a held part; under a base, the
// absolute URL of a relative reference that names none.
std::optional<std::string> answer(std::string_view reference,
                                  std::string_view base) {
  const auto hit = HELD.find(resolve_key(reference, base));
  if (hit != HELD.end()) return hit->second;
  if (!base.empty() && reference.find(':') == std::string_view::npos)
    return resolve_key(reference, base);
  return std::nullopt;
}

struct Outcome {
  RewriteReport report;
  std::string output;
  std::vector<std::string> asked;
};

Outcome run(const Case& c) {
  Outcome result;
  const ReferenceResolver resolve =
      [&result](std::string_view reference,
                std::string_view base) -> std::optional<std::string> {
    result.asked.push_back(base.empty() ? std::string(reference)
                                        : std::string(base) + "|" +
                                              std::string(reference));
    return answer(reference, base);
  };
  result.report =
      rewrite_references(c.input, c.syntax, c.charset, resolve, result.output);
  return result;
}

// The same text in UTF-16, with or without a byte order mark.
std::string utf16(std::string_view ascii, bool little_endian, bool bom) {
  std::string out;
  if (bom) out = little_endian ? "\xFF\xFE" : "\xFE\xFF";
  for (const char c : ascii) {
    if (little_endian) {
      out += c;
      out += '\0';
    } else {
      out += '\0';
      out += c;
    }
  }
  return out;
}

void check(const Case& c) {
  SCOPED_TRACE(c.what);
  const Outcome r = run(c);
  const bool changes = c.expected != c.input;
  EXPECT_EQ(r.report.status,
            changes ? RewriteStatus::rewritten : RewriteStatus::unchanged);
  EXPECT_EQ(changes ? r.output : c.input, c.expected);
  if (!changes) {
    EXPECT_TRUE(r.output.empty());
  }
  if (!c.asked.empty() || !changes) {
    EXPECT_EQ(r.asked, c.asked);
  }
  // Streamed, the pieces make the whole file, rewritten or not.
  std::string streamed;
  rewrite_references(
      c.input, c.syntax, c.charset, answer,
      [&streamed](std::string_view bytes) { streamed.append(bytes); });
  EXPECT_EQ(streamed, c.expected);
}

TEST(ReferenceRewriter, Forms) {
  for (const Case& c : CASES) check(c);
}

TEST(ReferenceRewriter, Utf16PagesAreRewrittenInUtf16) {
  const std::string page =
      "<html><style>p{b:url(a.png)}</style><IMG src=\"a.png#x\" "
      "srcset='b.png 2x'><!-- <img src=a.png> --><p>\xe9</p></html>";
  const std::string expected =
      "<html><style>p{b:url(img/a.png)}</style><IMG src=\"img/a.png#x\" "
      "srcset='img/b.png 2x'><!-- <img src=a.png> --><p>\xe9</p></html>";
  struct Form {
    const char* charset;
    bool little_endian;
    bool bom;
  };
  for (const Form form :
       {Form{"", true, true}, Form{"utf-8", true, true},
        Form{"UTF-16", false, true}, Form{"utf-16le", true, false},
        Form{"\"utf-16be\"", false, false}, Form{"", true, false}}) {
    SCOPED_TRACE(form.charset);
    const Case c{"utf-16", HTML, form.charset,
                 utf16(page, form.little_endian, form.bom),
                 utf16(expected, form.little_endian, form.bom)};
    check(c);
  }
  // A character beyond the basic plane (a surrogate pair) and an accented
  // letter reach the resolver as UTF-8; the replacement is written in
  // UTF-16.
  const std::string e_acute("\xE9\x00", 2);
  const std::string grin("\x3D\xD8\x00\xDE", 4);  // U+1F600
  const Case non_ascii{
      "utf-16 non-ASCII",
      HTML,
      "",
      utf16("<img src=\"caf", true, true) + e_acute +
          utf16(".png\"><img src=\"", true, false) + grin +
          utf16("\">", true, false),
      utf16("<img src=\"caf%C3%A9.png\"><img src=\"", true, true) + grin +
          utf16("\">", true, false),
      {"caf\xc3\xa9.png", "\xF0\x9F\x98\x80"}};
  check(non_ascii);
}

TEST(ReferenceRewriter, UnsupportedCharsetsAreLeftAlone) {
  const std::string page = "<img src=\"a.png\">";
  const std::string utf32 = std::string("\xFF\xFE\0\0", 4) + "<\0\0\0";
  struct Form {
    std::string charset;
    std::string bytes;
  };
  for (const Form& form :
       {Form{"ISO-2022-JP", page}, Form{"utf-7", page}, Form{"UTF-32", page},
        Form{"ibm037", page}, Form{"", utf32}}) {
    SCOPED_TRACE(form.charset);
    std::string output = "stale";
    int asked = 0;
    const RewriteReport report = rewrite_references(
        form.bytes, HTML, form.charset,
        [&asked](std::string_view, std::string_view) {
          ++asked;
          return std::optional<std::string>("x");
        },
        output);
    EXPECT_EQ(report.status, RewriteStatus::unsupported_charset);
    EXPECT_TRUE(output.empty());
    EXPECT_EQ(asked, 0);
    std::string streamed;
    rewrite_references(
        form.bytes, HTML, form.charset,
        [](std::string_view, std::string_view) {
          return std::optional<std::string>("x");
        },
        [&streamed](std::string_view bytes) { streamed.append(bytes); });
    EXPECT_EQ(streamed, form.bytes);
  }
}

TEST(ReferenceRewriter, ReportsBaseAndCount) {
  const Outcome r = run({"", HTML, "",
                         "<base href=\"https://h/d/\"><base href=other/>"
                         "<img src=a.png srcset='a.png 1x'>",
                         ""});
  EXPECT_EQ(r.report.base, "https://h/d/");
  EXPECT_TRUE(r.report.base_cleared);
  EXPECT_EQ(r.report.references, 2U);
  EXPECT_EQ(r.output,
            "<base href=\"\"><base href=other/>"
            "<img src=h/d/a.png srcset='h/d/a.png 1x'>");
}

// Every reference form, and every construct that hides one, after enough
// text that the charset is settled before the forms begin.
std::string every_form() {
  std::string page = "<html><head><title>x</title>";
  page += std::string(1100, 'p');
  page +=
      "<base target=_top href=\"https://h/d/\">"
      "<meta charset=\"utf-8\"><!-- <img src=a.png> --><!--->"
      "<link rel=stylesheet href='https://h/s.css' crossorigin>"
      "<style>@import \"a.png\"; p{b:url( a.png )} /* url(a.png) */"
      " q{c:url(\"b.png\") ; d:\"url(a.png)\"} r{e:url(a\\.png)}</style>"
      "<script>var s = '<img src=a.png>'; if (a</b) {}</script>"
      "<img src = \"a.png#f\" srcset=\"a.png 1x, b.png 2x,x.png 3x\" "
      "alt='>' data-src=b.png data-srcset='a.png 2x' "
      "style=\"background: url('a.png')\"><IMG SRC=a.png>"
      "<a href=\"x&amp;y.png\">&amp;</a><a href='#top'>t</a>"
      "<?pi <img src=a.png>?><!doctype x><textarea><img src=a.png>"
      "</textarea><img\tsrc=a.png/><p title=\"&lt;img src=a.png&gt;\">"
      "<object data=b.png></object><video poster=a.png></video>"
      "<svg><image xlink:href=\"b.png\"/></svg><form action=q.php>"
      "</STYLE><style>s{f:url(a.png)}</style ><plaintext><img src=a.png>";
  return page;
}

std::string whole(std::string_view page, PartSyntax syntax,
                  std::string_view charset, RewriteReport& report) {
  std::string out;
  report = rewrite_references(page, syntax, charset, answer,
                              [&out](std::string_view b) { out.append(b); });
  return out;
}

std::string in_runs(std::string_view page, PartSyntax syntax,
                    std::string_view charset,
                    const std::vector<std::size_t>& cuts,
                    RewriteReport& report) {
  std::string out;
  const ByteSink write = [&out](std::string_view b) { out.append(b); };
  ReferenceRewriter rewriter(syntax, charset, answer);
  std::size_t done = 0;
  for (const std::size_t cut : cuts) {
    rewriter.feed(page.substr(done, cut - done), write);
    done = cut;
  }
  rewriter.feed(page.substr(done), write);
  rewriter.finish(write);
  report = rewriter.report();
  return out;
}

// Cut at every byte into two runs, then into many random runs: the
// rewritten page is the whole-page rewrite, byte for byte.
TEST(ReferenceRewriter, RunsCutAnywhereRewriteAsTheWholePage) {
  const std::string html = every_form();
  struct Page {
    const char* what;
    std::string bytes;
    PartSyntax syntax;
    std::string charset;
  };
  const Page pages[] = {
      {"html", html, HTML, ""},
      {"utf-16", utf16(html, true, true), HTML, ""},
      {"css",
       std::string(1100, ' ') + "@import 's.css';a{b:url(a.png)}" +
           "/* url(a.png) */c{d:url( 'b.png' )}@import url(a.png);",
       CSS, ""},
  };
  for (const Page& page : pages) {
    SCOPED_TRACE(page.what);
    RewriteReport expected_report;
    const std::string expected =
        whole(page.bytes, page.syntax, page.charset, expected_report);
    ASSERT_EQ(expected_report.status, RewriteStatus::rewritten);
    ASSERT_NE(expected, page.bytes);
    for (std::size_t cut = 0; cut <= page.bytes.size(); ++cut) {
      RewriteReport report;
      const std::string got =
          in_runs(page.bytes, page.syntax, page.charset, {cut}, report);
      ASSERT_EQ(got, expected) << "cut at " << cut;
      ASSERT_EQ(report.references, expected_report.references);
      ASSERT_EQ(report.base, expected_report.base);
    }
    std::uint32_t seed = 12345;
    for (int round = 0; round < 200; ++round) {
      std::vector<std::size_t> cuts;
      std::size_t at = 0;
      while (true) {
        seed = seed * 1103515245U + 12345U;
        at += (seed >> 16) % (round % 2 == 0 ? 8 : 300);
        if (at >= page.bytes.size()) break;
        cuts.push_back(at);
      }
      RewriteReport report;
      ASSERT_EQ(in_runs(page.bytes, page.syntax, page.charset, cuts, report),
                expected)
          << "round " << round;
    }
  }
}

// A token longer than the cap is passed as it stands; what follows it is
// read as before, and the page streams through in blocks.
TEST(ReferenceRewriter, TokensLongerThanTheCapPassUnread) {
  const std::string long_value(REWRITE_TOKEN_CAP + 10, 'v');
  const std::string page =
      "<img alt=\"" + long_value + " > <img src=a.png\" src=a.png>" +
      "<img src=a.png><style>p{b:url(" + long_value +
      " ) url(a.png)}</style><style>q{c:url('" + long_value +
      "')}/* */r{d:url(b.png)}</style><img src=b.png>";
  const std::string expected =
      "<img alt=\"" + long_value + " > <img src=a.png\" src=a.png>" +
      "<img src=img/a.png><style>p{b:url(" + long_value +
      " ) url(img/a.png)}</style><style>q{c:url('" + long_value +
      "')}/* */r{d:url(img/b.png)}</style><img src=img/b.png>";
  for (const std::size_t block : {std::size_t{65536}, page.size()}) {
    std::vector<std::size_t> cuts;
    for (std::size_t at = block; at < page.size(); at += block)
      cuts.push_back(at);
    RewriteReport report;
    const std::string got = in_runs(page, HTML, "", cuts, report);
    EXPECT_TRUE(got == expected) << "block " << block;
    EXPECT_EQ(report.references, 4U);
  }
}

// The charset is read as a browser reads it: byte order mark, label, then
// a <meta> in the first 1,024 bytes.
TEST(ReferenceRewriter, CharsetFromMetaDecidesWithoutALabel) {
  const struct {
    const char* what;
    std::string charset;
    std::string page;
    bool rewritten;
  } cases[] = {
      {"meta charset", "", "<meta charset=\"iso-2022-jp\"><img src=a.png>",
       false},
      {"meta http-equiv", "",
       "<META HTTP-EQUIV=Content-Type CONTENT='text/html; charset=UTF-7'>"
       "<img src=a.png>",
       false},
      {"label over meta", "utf-8", "<meta charset=iso-2022-jp><img src=a.png>",
       true},
      {"meta in a comment", "", "<!-- <meta charset=utf-7> --><img src=a.png>",
       true},
      {"meta past 1,024 bytes", "",
       std::string(1100, ' ') + "<meta charset=utf-7><img src=a.png>", true},
      {"meta utf-16 read as utf-8", "", "<meta charset=utf-16><img src=a.png>",
       true},
      {"byte order mark over meta", "",
       "\xEF\xBB\xBF<meta charset=iso-2022-jp><img src=a.png>", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string output;
    const RewriteReport report =
        rewrite_references(c.page, HTML, c.charset, answer, output);
    EXPECT_EQ(report.status, c.rewritten ? RewriteStatus::rewritten
                                         : RewriteStatus::unsupported_charset);
    if (!c.rewritten) {
      EXPECT_FALSE(report.charset.empty());  // named in the note
    }
  }
}

}  // namespace

namespace {

// A rewriter whose resolver marks every reference for the expander, which
// writes "<" + key + ">" in two pieces (whatever the attribute: what it
// writes is trusted), and whose links are answered as "L:" + reference.
std::string expanded(std::string_view page, std::string_view charset,
                     bool link_resolver) {
  ReferenceRewriter rewriter(
      PartSyntax::html, charset,
      [](std::string_view reference, std::string_view /*base*/) {
        return std::optional<std::string>(std::string(1, INLINE_MARK) +
                                          std::string(reference));
      });
  rewriter.expand_with([](std::string_view key, const ByteSink& write) {
    write("<");
    write(std::string(key) + ">");
  });
  if (link_resolver)
    rewriter.resolve_links_with(
        [](std::string_view reference, std::string_view /*base*/) {
          return std::optional<std::string>("L:" + std::string(reference));
        });
  std::string out;
  const ByteSink write = [&out](std::string_view bytes) { out.append(bytes); };
  // One byte at a time: an expansion never splits the page's own bytes.
  for (const char c : page) rewriter.feed({&c, 1}, write);
  rewriter.finish(write);
  return out;
}

}  // namespace

TEST(ReferenceRewriter, MarkedReplacementsAreWrittenByTheExpander) {
  const struct {
    const char* what;
    std::string input;
    std::string expected;
    bool link_resolver;
  } cases[] = {
      {"attribute, srcset, css",
       "<img src=a.png srcset=\"b.png 2x, c 3x\">"
       "<p style='background:url(d.png)'>",
       "<img src=<a.png> srcset=\"<b.png> 2x, <c> 3x\">"
       "<p style='background:url(<d.png>)'>",
       false},
      {"a fragment stays after it", "<img src=\"a.svg#x\">",
       "<img src=\"<a.svg>#x\">", false},
      {"links without their resolver are references",
       "<a href=p.html>x</a><area href=q>",
       "<a href=<p.html>>x</a><area href=<q>>", false},
      {"links through their own resolver",
       "<a href=p.html>x</a><AREA HREF=q><link href=s.css>",
       "<a href=L:p.html>x</a><AREA HREF=L:q><link href=<s.css>>", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(expanded(c.input, "", c.link_resolver), c.expected);
  }
  // A UTF-16 page gets the expansion in its own code units.
  EXPECT_EQ(expanded(utf16("<img src=a>", true, true), "", false),
            utf16("<img src=<a>>", true, true));
  EXPECT_EQ(expanded(utf16("<img src=a>", false, true), "", false),
            utf16("<img src=<a>>", false, true));
}

TEST(ReferenceRewriter, MarkupGoesFirstInTheHead) {
  const struct {
    const char* what;
    std::string input;
    std::string expected;
  } cases[] = {
      {"after <head>", "<!DOCTYPE html><html><HEAD lang=x><title>t</title>",
       "<!DOCTYPE html><html><HEAD lang=x><M><title>t</title>"},
      {"no head: before the first other element", "<!-- c --><html><body><p>",
       "<!-- c --><html><M><body><p>"},
      {"once only", "<head></head><head>", "<head><M></head><head>"},
      {"before a tag's own edits", "<p><img src=a.png>",
       "<M><p><img src=img/a.png>"},
      {"not in a comment or script", "<!--<p>--><script>'<p>'</script>",
       "<!--<p>--><M><script>'<p>'</script>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const std::size_t run : {std::size_t{1}, std::size_t{1000}}) {
      ReferenceRewriter rewriter(PartSyntax::html, "", answer);
      rewriter.insert_first_in_head("<M>");
      std::string out;
      const ByteSink write = [&out](std::string_view b) { out.append(b); };
      for (std::size_t at = 0; at < c.input.size(); at += run)
        rewriter.feed(std::string_view(c.input).substr(at, run), write);
      rewriter.finish(write);
      EXPECT_EQ(out, c.expected);
    }
  }
}
