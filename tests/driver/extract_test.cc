#include "extract.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using test_support::Outcome;
using test_support::read_file;
using test_support::run_captured;
using test_support::ScopedTempDir;
using test_support::ThrowOnFatal;
using test_support::write_file;

const std::string HEADER =
    "MIME-Version: 1.0\r\n"
    "Content-Type: multipart/related; boundary=\"=_b0und\"\r\n\r\n";
const std::string SEPARATOR = "--=_b0und\r\n";
const std::string CLOSE = "--=_b0und--\r\n";

std::string part(const std::string& name, const std::string& encoding,
                 const std::string& body) {
  return "Content-Location: file:///C:/" + name +
         "\r\nContent-Transfer-Encoding: " + encoding +
         "\r\nContent-Type: application/octet-stream\r\n\r\n" + body;
}

class ExtractTest : public testing::Test {
 protected:
  // Runs the tool's loop over `archives` as its command line would.
  Outcome run_with(const std::vector<std::string>& archives) {
    std::vector<std::string> words{"mimeunpack"};
    words.insert(words.end(), archives.begin(), archives.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    return run_captured(
        [&] { status_ = run(static_cast<int>(words.size()), argv.data()); });
  }

  // The table echo that a base64.conf of only "1 B" prints.
  static constexpr const char* TABLE =
      "Base64table [B]  = 1\nBase64 nahran...\n";

  ScopedTempDir dir_;
  ThrowOnFatal fatal_;
  int status_ = 99;
};

TEST_F(ExtractTest, NoArgumentIsStatusMinus1) {
  const Outcome outcome = run_with({});
  ASSERT_TRUE(outcome.fatal.has_value());
  EXPECT_EQ(outcome.fatal->status, STATUS_NO_ARGUMENT);
  EXPECT_EQ(outcome.fatal->message, "Chybi parametr.\n");
  EXPECT_EQ(outcome.out, "");
}

TEST_F(ExtractTest, UnpacksEveryPartWithItsMessages) {
  write_file("base64.conf", test_support::rfc2045_conf());
  write_file(
      "a.mht",
      HEADER + "preamble\r\n" + SEPARATOR +
          part("page.htm", "quoted-printable", "<p>=3D=\r\nx</p>\r\n") +
          SEPARATOR + part("page_files/img.png", "base64", "iVBO\r\nRw==\r\n") +
          SEPARATOR + part("page_files/empty.txt", "quoted-printable", "") +
          SEPARATOR + part("last.txt", "base64", "QUJDRA\r\n") + CLOSE +
          "epilogue\r\n" + SEPARATOR +
          part("never.txt", "quoted-printable", "no\r\n"));
  const Outcome outcome = run_with({"a.mht"});
  ASSERT_FALSE(outcome.fatal.has_value()) << outcome.fatal->message;
  EXPECT_EQ(status_, STATUS_OK);
  std::string expected = "argc: 1, argv[1]: a.mht\n";
  for (std::size_t i = 1; i < 64; ++i)
    expected += std::string("Base64table [") + RFC2045_ALPHABET[i] +
                "]  = " + std::to_string(i) + "\n";
  expected +=
      "Base64 nahran...\n"
      "Zapis souboru page.htm, enc: 0\n"
      "Zapis souboru page_files/img.png, enc: 1\n"
      "Zapis souboru page_files/empty.txt, enc: 0\n"
      "Zapis souboru last.txt, enc: 1\n";
  EXPECT_EQ(outcome.out, expected);
  EXPECT_EQ(read_file("page.htm"), "<p>=x</p>\r\n");
  EXPECT_EQ(read_file("page_files/img.png"), "\x89PNG");
  EXPECT_TRUE(fs::exists("page_files/empty.txt"));
  EXPECT_EQ(read_file("page_files/empty.txt"), "");
  EXPECT_EQ(read_file("last.txt"), "ABCD");
  EXPECT_FALSE(fs::exists("never.txt"));
}

TEST_F(ExtractTest, SeveralArchivesShareOneTable) {
  write_file("base64.conf", "1 B\n");
  write_file("a.mht", HEADER + SEPARATOR + part("a.txt", "q", "a\r\n") + CLOSE);
  write_file("b.mht", HEADER + SEPARATOR + part("b.txt", "q", "b\r\n") + CLOSE);
  const Outcome outcome = run_with({"a.mht", "b.mht"});
  EXPECT_EQ(status_, STATUS_OK);
  EXPECT_EQ(outcome.out, std::string("argc: 2, argv[1]: a.mht\n") + TABLE +
                             "Zapis souboru a.txt, enc: 0\n"
                             "argc: 1, argv[1]: b.mht\n"
                             "Zapis souboru b.txt, enc: 0\n");
  EXPECT_EQ(read_file("b.txt"), "b\r\n");
}

TEST_F(ExtractTest, ArchiveWithoutPartsNeedsNoTable) {
  write_file("a.mht", HEADER + "no boundary line follows\r\n");
  const Outcome outcome = run_with({"a.mht"});
  EXPECT_FALSE(outcome.fatal.has_value());
  EXPECT_EQ(status_, STATUS_OK);
  EXPECT_EQ(outcome.out, "argc: 1, argv[1]: a.mht\n");
}

TEST_F(ExtractTest, UnsafePathIsRefusedBeforeAnythingIsMade) {
  // Work one level down, so that an escape would land inside the test's
  // own directory, where it can be looked for.
  fs::create_directory("inner");
  fs::current_path("inner");
  const fs::path outside = dir_.path() / "x.txt";
  write_file("base64.conf", "1 B\n");
  for (const std::string& name : {std::string("evil/../../x.txt"),
                                  outside.string(), std::string("evil/..")}) {
    write_file("a.mht", HEADER + SEPARATOR + part("ok.txt", "q", "ok\r\n") +
                            SEPARATOR + part(name, "q", "bad\r\n") + CLOSE);
    const Outcome outcome = run_with({"a.mht"});
    ASSERT_TRUE(outcome.fatal.has_value()) << name;
    EXPECT_EQ(outcome.fatal->status, STATUS_CANNOT_WRITE);
    EXPECT_EQ(outcome.fatal->message,
              "Chyba. Cesta " + name + " vede mimo aktualni adresar.\n");
    EXPECT_FALSE(fs::exists("evil"));
    EXPECT_FALSE(fs::exists(outside));
    EXPECT_EQ(read_file("ok.txt"), "ok\r\n");
  }
}

TEST_F(ExtractTest, FileThatCannotBeCreatedEndsWithMinus4Silently) {
  write_file("base64.conf", "1 B\n");
  write_file("f", "a file where a directory should be");
  write_file("a.mht",
             HEADER + SEPARATOR + part("f/x.txt", "q", "x\r\n") + CLOSE);
  const Outcome outcome = run_with({"a.mht"});
  ASSERT_TRUE(outcome.fatal.has_value());
  EXPECT_EQ(outcome.fatal->status, STATUS_CANNOT_WRITE);
  EXPECT_EQ(outcome.fatal->message, "");
  EXPECT_EQ(outcome.out, std::string("argc: 1, argv[1]: a.mht\n") + TABLE +
                             "Zapis souboru f/x.txt, enc: 0\n");
}

TEST_F(ExtractTest, MissingTableEndsAtTheFirstPart) {
  write_file("a.mht", HEADER + SEPARATOR + part("a.txt", "q", "a\r\n") + CLOSE);
  const Outcome outcome = run_with({"a.mht"});
  ASSERT_TRUE(outcome.fatal.has_value());
  EXPECT_EQ(outcome.fatal->status, STATUS_BAD_FORMAT);
  EXPECT_EQ(outcome.fatal->message,
            "Chyba. Tabulka rozlozeni [base64.conf] nenalezena.\n");
  EXPECT_FALSE(fs::exists("a.txt"));
}

TEST_F(ExtractTest, LaterArchiveThatCannotBeOpenedKeepsEarlierFiles) {
  write_file("base64.conf", "1 B\n");
  write_file("a.mht", HEADER + SEPARATOR + part("a.txt", "q", "a\r\n") + CLOSE);
  const Outcome outcome = run_with({"a.mht", "gone.mht"});
  ASSERT_TRUE(outcome.fatal.has_value());
  EXPECT_EQ(outcome.fatal->status, STATUS_CANNOT_OPEN);
  EXPECT_EQ(outcome.fatal->message, "Chyba. Nemohu otevrit souborgone.mht.\n");
  EXPECT_EQ(read_file("a.txt"), "a\r\n");
}

TEST_F(ExtractTest, TrailingBlankLineAfterTheLastSeparatorEndsQuietly) {
  write_file("base64.conf", "1 B\n");
  write_file("a.mht", HEADER + SEPARATOR + part("a.txt", "q", "a\r\n") +
                          SEPARATOR + "\r\n");
  const Outcome outcome = run_with({"a.mht"});
  EXPECT_FALSE(outcome.fatal.has_value());
  EXPECT_EQ(status_, STATUS_OK);
  EXPECT_EQ(read_file("a.txt"), "a\r\n");
}

}  // namespace
