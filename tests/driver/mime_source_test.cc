#include "mime_source.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "archive_reader.h"
#include "progress.h"
#include "test_support.h"
#include "type_filter.h"

namespace {

using test_support::Outcome;
using test_support::run_captured;
using test_support::ScopedTempDir;
using test_support::ThrowOnFatal;
using test_support::write_file;

class MimeSourceTest : public testing::Test {
 protected:
  ScopedTempDir dir_;
  ThrowOnFatal fatal_;
};

// Lowers the limit on open descriptors for the test's duration.
class ScopedDescriptorLimit {
 public:
  explicit ScopedDescriptorLimit(rlim_t limit) {
    getrlimit(RLIMIT_NOFILE, &saved_);
    rlimit lowered = saved_;
    lowered.rlim_cur = limit;
    setrlimit(RLIMIT_NOFILE, &lowered);
  }
  ~ScopedDescriptorLimit() { setrlimit(RLIMIT_NOFILE, &saved_); }
  ScopedDescriptorLimit(const ScopedDescriptorLimit&) = delete;
  ScopedDescriptorLimit& operator=(const ScopedDescriptorLimit&) = delete;

 private:
  rlimit saved_{};
};

TEST_F(MimeSourceTest, RefusedArchivesLeaveNoDescriptorOpen) {
  write_file("plain.txt", "no header here\n");
  write_file("empty.mht", "");
  const ScopedDescriptorLimit limit(64);
  for (int i = 0; i < 2000; ++i) {
    const Outcome outcome = run_captured(
        [&] { const MimeSource source(i % 2 ? "plain.txt" : "empty.mht"); });
    ASSERT_TRUE(outcome.fatal.has_value()) << i;
    ASSERT_EQ(outcome.fatal->status, STATUS_BAD_FORMAT) << i;
  }
  const int fd = ::open("plain.txt", O_RDONLY | O_CLOEXEC);
  EXPECT_GE(fd, 0);
  ::close(fd);
}

// --progress's scale under -a: the structure's pass over the whole file,
// then the bodies read back (those --only keeps), one count that only moves
// forward and ends at its total.
TEST_F(MimeSourceTest, ProgressCountsTheStructureThenTheBodies) {
  const std::string archive =
      "Content-Type: multipart/related; boundary=b\n\n"
      "--b\nContent-Type: text/html\n\n<p>one</p>\n"
      "--b\nContent-Type: image/png\n\nPNGDATA\n--b--\n";
  write_file("a.mht", archive);
  const std::uint64_t size = archive.size();
  ProgressMeter meter([] { return std::chrono::nanoseconds{0}; },
                      [](std::string_view) {}, 80);
  active_progress = &meter;
  for (const bool only_images : {false, true}) {
    SCOPED_TRACE(only_images);
    meter.begin();
    MimeSource source("a.mht");
    EXPECT_EQ(meter.figures().done, size);
    EXPECT_EQ(meter.figures().total, size + 10 + 7);
    if (only_images) {
      source.keep_only(*TypeFilter::parse("image/*"));
      EXPECT_EQ(meter.figures().total, size + 7);
    }
    SourcePart part;
    while (source.next(part))
      while (!source.read_body().empty()) {
      }
    EXPECT_EQ(meter.figures().done, meter.figures().total);
  }
  active_progress = nullptr;
}

// What a whole body gives, gathered from its runs.
std::string whole_body(MimeSource& source) {
  std::string body;
  for (std::string_view run = source.read_body(); !run.empty();
       run = source.read_body()) {
    EXPECT_LE(run.size(), READ_BLOCK);
    body += run;
  }
  return body;
}

TEST_F(MimeSourceTest, BodiesComeInBlocksAsTheyStand) {
  // Several blocks long, stray bytes at block edges and between: the
  // source hands them on; only the part says how base64 is to be read.
  std::string base64;
  for (std::size_t i = 0; base64.size() < 3 * READ_BLOCK + 7; ++i)
    base64 += i % 5 == 0 ? "QUJD !\r\n" : "QUJDRA==\t\r\n";
  const std::string text = "a  b\r\n=3D !";
  write_file("a.mht",
             "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; "
             "boundary=\"b\"\r\n\r\n--b\r\nContent-Type: image/png\r\n"
             "Content-Transfer-Encoding: base64\r\n\r\n" +
                 base64 +
                 "\r\n--b\r\nContent-Type: text/plain\r\n"
                 "Content-Transfer-Encoding: quoted-printable\r\n\r\n" +
                 text + "\r\n--b\r\nContent-Type: text/plain\r\n\r\n" + text +
                 "\r\n--b--\r\n");
  for (const bool rfc2045 : {true, false}) {
    MimeSource source("a.mht");
    source.read_as_rfc2045(rfc2045);
    SourcePart part;
    ASSERT_TRUE(source.next(part));
    EXPECT_EQ(part.encoding, Encoding::base64);
    EXPECT_EQ(part.base64_input,
              rfc2045 ? Base64Input::rfc2045 : Base64Input::table);
    EXPECT_TRUE(whole_body(source) == base64);
    ASSERT_TRUE(source.next(part));
    EXPECT_EQ(part.encoding, Encoding::quoted_printable);
    EXPECT_EQ(part.base64_input, Base64Input::table);
    EXPECT_EQ(whole_body(source), text);
    ASSERT_TRUE(source.next(part));
    EXPECT_EQ(part.encoding, Encoding::as_is);
    EXPECT_EQ(part.index, 2U);
    EXPECT_EQ(whole_body(source), text);
    EXPECT_FALSE(source.next(part));
  }
}

}  // namespace
