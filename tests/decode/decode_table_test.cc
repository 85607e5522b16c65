#include "decode_table.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "part_decoder.h"
#include "test_support.h"

namespace {

using test_support::Outcome;
using test_support::run_captured;
using test_support::ScopedTempDir;
using test_support::ThrowOnFatal;
using test_support::write_file;

std::string echo(char c, const std::string& value) {
  return std::string("Base64table [") + c + "]  = " + value + "\n";
}

class LoadTableTest : public testing::Test {
 protected:
  ScopedTempDir dir_;
  ThrowOnFatal fatal_;
  DecodeTable table_;
};

TEST_F(LoadTableTest, LoadsFromTheCurrentDirectory) {
  write_file("base64.conf", "1 B\r\n63 /\n");
  const Outcome outcome = run_captured([&] { table_.load(); });
  EXPECT_FALSE(outcome.fatal.has_value());
  EXPECT_EQ(outcome.out,
            echo('B', "1") + echo('/', "63") + "Base64 nahran...\n");
  EXPECT_TRUE(table_.loaded());
  EXPECT_EQ(table_.table().entries['B'], 1);
  EXPECT_EQ(table_.table().entries['/'], 63);
}

TEST_F(LoadTableTest, EmptyFileLoads) {
  write_file("base64.conf", "");
  const Outcome outcome = run_captured([&] { table_.load(); });
  EXPECT_EQ(outcome.out, "Base64 nahran...\n");
  EXPECT_TRUE(table_.loaded());
}

TEST_F(LoadTableTest, LargeFileIsReadWhole) {
  // Well past the loader's 4 KiB reads; the entry comes last.
  write_file("base64.conf", std::string(20000, '#') + "\n" + "42 k\n");
  const Outcome outcome = run_captured([&] { table_.load(); });
  EXPECT_EQ(outcome.out, echo('k', "42") + "Base64 nahran...\n");
}

TEST_F(LoadTableTest, MissingOrUnreadableFileIsFatal) {
  const auto expect_missing = [&] {
    const Outcome outcome = run_captured([&] { table_.load(); });
    ASSERT_TRUE(outcome.fatal.has_value());
    EXPECT_EQ(outcome.fatal->status, STATUS_BAD_FORMAT);
    EXPECT_EQ(outcome.fatal->message,
              "Chyba. Tabulka rozlozeni [base64.conf] nenalezena.\n");
    EXPECT_FALSE(table_.loaded());
  };
  expect_missing();
  std::filesystem::create_directory("base64.conf");
  expect_missing();
}

TEST_F(LoadTableTest, FirstDecoderLoadsTheTableWhateverItsEncoding) {
  write_file("base64.conf", "5 x\n");
  // Read without a word when the decoder starts; said when announced.
  const Outcome first = run_captured([&] {
    const PartDecoder decoder(Encoding::quoted_printable, table_, -1);
    EXPECT_EQ(table_.table().entries['x'], 5);
    std::filesystem::remove("base64.conf");
    table_.announce();
  });
  EXPECT_EQ(first.out, echo('x', "5") + "Base64 nahran...\n");
  // Later decoders keep the table, even when the file has gone.
  const Outcome second = run_captured([&] {
    const PartDecoder decoder(Encoding::base64, table_, -1);
    table_.announce();
  });
  EXPECT_FALSE(second.fatal.has_value());
  EXPECT_EQ(second.out, "");
}

// Each failure waits for the announcement, and says there what loading
// would have said.
TEST_F(LoadTableTest, FailuresWaitForTheAnnouncement) {
  const struct {
    const char* conf;  // nullptr: no file
    int status;
    std::string said;
  } cases[] = {
      {nullptr, STATUS_BAD_FORMAT,
       "Chyba. Tabulka rozlozeni [base64.conf] nenalezena.\n"},
      {"1 B\n26", STATUS_BAD_FORMAT,
       echo('B', "1") + "Chyba. Soubor [base64.conf] ma chybny format. \n" +
           "Radek: 26; i = 3 strlen: 2\n"},
  };
  for (const auto& c : cases) {
    std::filesystem::remove("base64.conf");
    if (c.conf != nullptr) write_file("base64.conf", c.conf);
    Outcome outcome = run_captured([&] { EXPECT_FALSE(table_.preload()); });
    EXPECT_EQ(outcome.out, "");
    EXPECT_FALSE(outcome.fatal.has_value());
    outcome = run_captured([&] { table_.announce(); });
    ASSERT_TRUE(outcome.fatal.has_value());
    EXPECT_EQ(outcome.fatal->status, c.status);
    EXPECT_EQ(outcome.out + outcome.fatal->message, c.said);
    EXPECT_FALSE(table_.loaded());
  }
}

}  // namespace
