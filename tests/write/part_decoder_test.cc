#include "part_decoder.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "output_dir.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using test_support::Outcome;
using test_support::read_file;
using test_support::reference_base64;
using test_support::run_captured;
using test_support::ScopedTempDir;
using test_support::ThrowOnFatal;
using test_support::write_file;

// Bodies are decoded in blocks of DECODE_BLOCK input characters.
constexpr std::size_t BLOCK = DECODE_BLOCK;

class PartDecoderTest : public testing::Test {
 protected:
  PartDecoderTest() { table_.use(test_support::rfc2045_table()); }

  static Encoding encoding(int number) {
    return number == 1   ? Encoding::base64
           : number == 0 ? Encoding::quoted_printable
                         : Encoding::as_is;
  }

  // The directory of `path`, which must exist already: -1 when it doesn't.
  int reach(int root, const std::string& path) {
    reached_ =
        reach_directory(root, path.substr(0, path.rfind('/') + 1), false);
    return reached_.dir.get();
  }

  // Decodes `body` as it would be read and writes it to `path`; the result
  // of write_part lands in `status_`.
  Outcome write(std::string_view body, int is_base64, const std::string& path) {
    return run_captured([&] {
      const DirectoryFd root = open_output_root(".");
      PartDecoder decoder(encoding(is_base64), table_, root.get());
      decoder.feed(body);
      decoder.finish();
      status_ = write_part(decoder, path, reach(root.get(), path));
    });
  }

  // The same through a filter in front of the file; the filter sees the
  // decoded body and hands the file's bytes on in pieces.
  using PieceWriter = std::function<void(std::string_view bytes)>;
  using PartFilter =
      std::function<void(std::string_view decoded, const PieceWriter& write)>;
  class Gathered final : public DecodeSink {
   public:
    void put(const char* bytes, std::size_t count) override {
      decoded.append(bytes, count);
    }
    std::string decoded;
  };
  Outcome write_filtered(std::string_view body, int is_base64,
                         const std::string& path, const PartFilter& filter) {
    return run_captured([&] {
      const DirectoryFd root = open_output_root(".");
      PartDecoder decoder(encoding(is_base64), table_, root.get());
      Gathered gathered;
      decoder.decode_through(gathered);
      decoder.feed(body);
      decoder.finish();
      filter(gathered.decoded, [&decoder](std::string_view bytes) {
        decoder.sink.put(bytes.data(), bytes.size());
      });
      status_ = write_part(decoder, path, reach(root.get(), path));
    });
  }

  // Decodes `body` both ways: the files must be equal, and are returned.
  std::string write_both(std::string_view body, int is_base64) {
    write(body, is_base64, "whole.bin");
    EXPECT_EQ(status_, 0);
    write_filtered(
        body, is_base64, "filtered.bin",
        [](std::string_view decoded, const PieceWriter& out) { out(decoded); });
    EXPECT_EQ(status_, 0);
    std::string whole = read_file("whole.bin");
    EXPECT_TRUE(read_file("filtered.bin") == whole);
    return whole;
  }

  ScopedTempDir dir_;
  ThrowOnFatal fatal_;
  DecodeTable table_;
  int status_ = 99;
  ReachedDirectory reached_;
};

TEST_F(PartDecoderTest, QuotedPrintablePart) {
  const Outcome outcome = write("a=3Db=\r\nc\r\n=C3=A9\r\n", 0, "page.htm");
  EXPECT_FALSE(outcome.fatal.has_value());
  EXPECT_EQ(status_, 0);
  EXPECT_EQ(outcome.out, "Zapis souboru page.htm, enc: 0\n");
  EXPECT_EQ(read_file("page.htm"), "a=bc\r\n\xc3\xa9\r\n");
}

TEST_F(PartDecoderTest, Base64Part) {
  const Outcome outcome = write("iVBORw0KGgo=", 1, "image001.png");
  EXPECT_EQ(status_, 0);
  EXPECT_EQ(outcome.out, "Zapis souboru image001.png, enc: 1\n");
  // Python: base64.b64decode("iVBORw0KGgo=")
  EXPECT_EQ(read_file("image001.png"), "\x89PNG\r\n\x1a\n");
}

TEST_F(PartDecoderTest, PathIsUsedAsGivenBelowTheCurrentDirectory) {
  fs::create_directories("a b/c");
  write("x", 0, "a b/c/d&e.txt");
  EXPECT_EQ(status_, 0);
  EXPECT_EQ(read_file("a b/c/d&e.txt"), "x");
}

TEST_F(PartDecoderTest, EmptyBodiesWriteEmptyFiles) {
  write("", 0, "empty.txt");
  EXPECT_EQ(status_, 0);
  write("", 1, "empty.bin");
  EXPECT_EQ(status_, 0);
  EXPECT_TRUE(fs::exists("empty.txt"));
  EXPECT_EQ(fs::file_size("empty.txt"), 0u);
  EXPECT_TRUE(fs::exists("empty.bin"));
  EXPECT_EQ(fs::file_size("empty.bin"), 0u);
}

TEST_F(PartDecoderTest, ReplacesAnExistingFile) {
  write_file("page.htm", std::string(5000, 'o'));
  write("new", 0, "page.htm");
  EXPECT_EQ(read_file("page.htm"), "new");
}

TEST_F(PartDecoderTest, FileThatCannotBeCreatedIsMinus1) {
  fs::create_directory("taken");
  for (const std::string path : {"missing/dir/f.txt", "taken", ""}) {
    const Outcome outcome = write("x", 0, path);
    EXPECT_FALSE(outcome.fatal.has_value());
    EXPECT_EQ(status_, -1) << path;
    EXPECT_EQ(outcome.out, "Zapis souboru " + path + ", enc: 0\n");
  }
  EXPECT_FALSE(fs::exists("missing"));
  // No temporary file stays behind either.
  EXPECT_EQ(std::distance(fs::directory_iterator("."), {}), 1);
}

// A file-size limit makes a write fail honestly: with SIGXFSZ ignored the
// write returns EFBIG once the file reaches the limit.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_limit_);
    saved_action_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_limit_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_limit_);
    std::signal(SIGXFSZ, saved_action_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved_limit_{};
  void (*saved_action_)(int) = nullptr;
};

TEST_F(PartDecoderTest, FailedWriteIsReportedAndKeepsTheOldFile) {
  write_file("full.bin", "the old bytes");
  // Past the limit in either encoding; the limit leaves room for the
  // captured standard output.
  const std::string long_text(100000, 'x');
  const std::string bodies[] = {long_text, reference_base64(long_text)};
  for (const int is_base64 : {0, 1}) {
    Outcome outcome;
    {
      const FileSizeLimit limit(65536);
      outcome = write(bodies[is_base64], is_base64, "full.bin");
    }
    ASSERT_TRUE(outcome.fatal.has_value());
    EXPECT_EQ(outcome.fatal->status, STATUS_CANNOT_WRITE);
    EXPECT_EQ(outcome.fatal->message,
              "Chyba. Zapis do souboru full.bin selhal.\n");
    EXPECT_EQ(outcome.out, "Zapis souboru full.bin, enc: " +
                               std::to_string(is_base64) + "\n");
    // The old file as it was, and no temporary file beside it.
    EXPECT_EQ(read_file("full.bin"), "the old bytes");
    EXPECT_EQ(std::distance(fs::directory_iterator("."), {}), 1);
  }
}

// Large bodies cross the decoder's output blocks; the final group must still
// give only its whole bytes.
TEST_F(PartDecoderTest, LargeBase64BodiesMatchTheOriginal) {
  for (const std::size_t size :
       {BLOCK / 4 * 3, BLOCK / 4 * 3 + 1, BLOCK / 4 * 3 + 2, 3 * BLOCK + 5}) {
    const std::string data = test_support::pseudo_random_bytes(size, 3);
    for (const bool pad : {true, false}) {
      const std::string written = write_both(reference_base64(data, pad), 1);
      EXPECT_EQ(written.size(), data.size()) << size << " pad " << pad;
      EXPECT_TRUE(written == data) << size << " pad " << pad;
    }
  }
}

// A quoted-printable body is decoded in blocks of input; escapes and soft
// breaks that straddle a block's end must come out whole.
TEST_F(PartDecoderTest, QuotedPrintableAcrossTheBlockEnd) {
  const struct {
    std::string tail;
    std::string decoded;
  } cases[] = {{"=41y", "Ay"}, {"=\r\ny", "y"}, {"=\r\n\r\ny", "\r\ny"},
               {"=\ny", "y"},  {"=\ry", "y"},   {"=3d=3D", "=="},
               {"=G", "=G"},   {"=4", "=4"},    {"=", "="},
               {"==41", "=A"}, {"=4=41", "=4A"}};
  for (const auto& c : cases) {
    for (std::size_t back = 1; back <= 4; ++back) {
      const std::string lead(BLOCK - back, 'x');
      const std::string written = write_both(lead + c.tail, 0);
      EXPECT_TRUE(written == lead + c.decoded) << c.tail << " at -" << back;
    }
  }
}

// The filter's pieces reach the file in order, however small or large each
// is (small ones are gathered, large ones go straight through).
TEST_F(PartDecoderTest, FilteredPiecesArriveInOrder) {
  const std::string big = test_support::pseudo_random_bytes(BLOCK / 2, 5);
  const std::string huge = test_support::pseudo_random_bytes(2 * BLOCK, 6);
  const std::vector<std::vector<std::string>> layouts = {
      {"<p>", big, "</p>", "x"},
      {big, "a", huge, "b", big},
      std::vector<std::string>(3 * BLOCK / 1000, std::string(999, 'q')),
      {},
  };
  for (const auto& pieces : layouts) {
    std::string expected;
    for (const std::string& piece : pieces) expected += piece;
    const Outcome outcome =
        write_filtered("raw body", 2, "out.html",
                       [&](std::string_view decoded, const PieceWriter& out) {
                         EXPECT_EQ(decoded, "raw body");
                         for (const std::string& piece : pieces) out(piece);
                       });
    EXPECT_EQ(status_, 0);
    EXPECT_EQ(outcome.out, "Zapis souboru out.html, enc: 2\n");
    EXPECT_TRUE(read_file("out.html") == expected) << pieces.size();
  }
}

}  // namespace
