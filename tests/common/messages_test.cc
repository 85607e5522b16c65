// The catalogue's printed lines, byte for byte, and the one out-of-memory
// path choosing its message by where the allocation failed.
#include "messages.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace {

using test_support::Outcome;
using test_support::run_captured;
using test_support::ThrowOnFatal;

TEST(MessagesTest, PrintedLines) {
  const struct {
    void (*say)();
    std::string printed;
  } cases[] = {
      {[] { say_progress(2, "a b.mht"); }, "argc: 2, argv[1]: a b.mht\n"},
      {[] { say_table_entry('/', 63); }, "Base64table [/]  = 63\n"},
      {[] { say_table_entry('\0', -1); },
       std::string("Base64table [\0]  = -1\n", 22)},
      {[] { say_table_loaded(); }, "Base64 nahran...\n"},
      {[] { say_writing("dir/page.htm", Encoding::quoted_printable); },
       "Zapis souboru dir/page.htm, enc: 0\n"},
      {[] { say_writing(std::string_view("x\0y", 3), Encoding::base64); },
       std::string("Zapis souboru x\0y, enc: 1\n", 26)},
  };
  for (const auto& c : cases) EXPECT_EQ(run_captured(c.say).out, c.printed);
}

// The usage is made from the options it is given: their letters or the
// room for one, a value's name, texts that go on over several lines at
// the same column, and a name too long for the column.
TEST(MessagesTest, UsageFromTheOptionTable) {
  static constexpr UsageText one{"jedna", "HODNOTA"};
  static constexpr UsageText two{"prvni radek\ndruhy radek"};
  static const UsageOption options[] = {
      {'x', "extra", &one},
      {0, "alone", &two},
      {'L', "a-name-far-too-long-for-it", &one},
  };
  set_usage_options(options, 3);
  EXPECT_EQ(run_captured([] { say_help(); }).out,
            "Pouziti: mimeunpack [PREPINACE] ARCHIV...\n"
            "Rozbali jednosouborove webove archivy (.mht) do souboru a "
            "adresaru.\n"
            "\n"
            "  -x, --extra HODNOTA     jedna\n"
            "      --alone             prvni radek\n"
            "                          druhy radek\n"
            "  -L, --a-name-far-too-long-for-it HODNOTA jedna\n"
            "  --                      konec prepinacu, dale jen archivy\n"
            "\n"
            "Vse ostatni: man mimeunpack\n");
  set_usage_options(nullptr, 0);
}

TEST(MessagesTest, OutOfMemoryTakesTheMessageOfItsScope) {
  const ThrowOnFatal fatal;
  const auto fail = [] { fail_no_memory(); };
  const struct {
    NoMemoryMessage scope;
    int status;
    std::string message;
  } cases[] = {
      {NoMemoryMessage::general, STATUS_NO_MEMORY,
       "Chyba. Nedostatek pameti. \n"},
      {NoMemoryMessage::table, STATUS_CANNOT_OPEN, "Chyba. Malo pameti. \n"},
      {NoMemoryMessage::directory, STATUS_NO_MEMORY, "Nedostatek pameti. \n"},
  };
  for (const auto& c : cases) {
    Outcome outcome;
    {
      const NoMemoryScope scope(c.scope);
      outcome = run_captured(fail);
    }
    ASSERT_TRUE(outcome.fatal.has_value());
    EXPECT_EQ(outcome.fatal->status, c.status);
    EXPECT_EQ(outcome.fatal->message, c.message);
  }
  // Outside every scope, and after a scope has ended, the general message.
  const Outcome outcome = run_captured(fail);
  ASSERT_TRUE(outcome.fatal.has_value());
  EXPECT_EQ(outcome.fatal->message, "Chyba. Nedostatek pameti. \n");
}

// -k goes on past the conditions of one archive and ends the run on those
// no later archive could escape.
TEST(MessagesTest, FatalConditionsSayWhetherTheyEndTheRun) {
  const ThrowOnFatal fatal;
  const struct {
    void (*fail)();
    bool ends_run;
  } cases[] = {
      {[] { fail_cannot_open("a.mht"); }, false},
      {[] { fail_part_format(); }, false},
      {[] { fail_not_mime("a.mht"); }, false},
      {[] { fail_unsafe_path("../x"); }, false},
      {[] { fail_write("x"); }, false},
      {[] { fail_cannot_create(); }, false},
      {[] { fail_no_memory(); }, true},
      {[] { fail_table_missing("base64.conf"); }, true},
      {[] { fail_cannot_open_directory("d"); }, true},
      {[] { fail_output_lost(); }, true},
      {[] { fail_header(); }, false},
  };
  for (const auto& c : cases) {
    const Outcome outcome = run_captured(c.fail);
    ASSERT_TRUE(outcome.fatal.has_value());
    EXPECT_EQ(fatal_ends_run(), c.ends_run);
  }
  EXPECT_EQ(run_captured([] { say_batch_total(3, 1); }).out,
            "Archivu zpracovano: 3, s chybou: 1\n");
}

// Every UTF-8 boundary case: what stays and what becomes "?", byte by byte.
TEST(MessagesTest, TerminalSafeNames) {
  const struct {
    std::string name;
    std::string shown;
  } cases[] = {
      {"plain/name.txt", "plain/name.txt"},
      {std::string("a\0b\tc\x1b[2J\x7f", 10), "a?b?c?[2J?"},
      {"\xc5\xbelu\xc5\xa5ou\xc4\x8dk\xc3\xbd",
       "\xc5\xbelu\xc5\xa5ou\xc4\x8dk\xc3\xbd"},
      {"\xc2\x80\xc2\x9f\xc2\xa0", "??\xc2\xa0"},  // C1 controls; NBSP stays
      {"\x9b\xc0\xaf\xc1\xbf", "?????"},  // stray, overlong two-byte forms
      {"\xe0\x9f\xbf\xe0\xa0\x80", "???\xe0\xa0\x80"},  // overlong; U+0800
      {"\xed\xa0\x80\xed\x9f\xbf", "???\xed\x9f\xbf"},  // surrogate; U+D7FF
      {"\xf0\x8f\xbf\xbf\xf0\x90\x80\x80", "????\xf0\x90\x80\x80"},
      {"\xf4\x90\x80\x80\xf4\x8f\xbf\xbf", "????\xf4\x8f\xbf\xbf"},
      {"\xf5\x80\xfe\xff", "????"},
      {"end\xe2\x82", "end??"},  // cut short by the end of the name
      {"\xe2\x82(", "?\?("},     // "\?": no trigraph
  };
  for (const auto& c : cases)
    EXPECT_EQ(terminal_safe_name(c.name), c.shown) << c.name;
}

}  // namespace
