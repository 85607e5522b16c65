// The progress bar's text (bytes, rate, time left, widths, unknown totals)
// and when the meter draws it, on a clock the test moves by hand.
#include "progress.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
constexpr std::uint64_t MiB = std::uint64_t{1} << 20;

std::string bar(std::size_t filled, std::size_t width) {
  std::string text(1, '[');
  text.append(filled, '#').append(width - filled, '.').push_back(']');
  return text;
}

TEST(ProgressTest, BarText) {
  const struct {
    ProgressFigures figures;
    std::size_t width;
    std::string text;
  } cases[] = {
      // A quarter read in a second: 3 s left; the bar takes what the
      // words leave of 79 columns (29).
      {{MiB, 4 * MiB, true, 1s},
       80,
       "nacteno 1.0 MiB z 4.0 MiB " + bar(7, 29) + " 1.0 MiB/s, zbyva 0:03"},
      // A wide terminal: the bar stops at 40 columns.
      {{3 * MiB, 4 * MiB, true, 1s},
       200,
       "nacteno 3.0 MiB z 4.0 MiB " + bar(30, 40) + " 3.0 MiB/s, zbyva 0:01"},
      // Too narrow for a bar of 5: without it, and then whole pieces go
      // from the end.
      {{MiB, 4 * MiB, true, 1s},
       56,
       "nacteno 1.0 MiB z 4.0 MiB " + bar(1, 5) + " 1.0 MiB/s, zbyva 0:03"},
      {{MiB, 4 * MiB, true, 1s},
       55,
       "nacteno 1.0 MiB z 4.0 MiB, 1.0 MiB/s, zbyva 0:03"},
      {{MiB, 4 * MiB, true, 1s}, 40, "nacteno 1.0 MiB z 4.0 MiB, 1.0 MiB/s"},
      {{MiB, 4 * MiB, true, 1s}, 30, "nacteno 1.0 MiB z 4.0 MiB"},
      {{MiB, 4 * MiB, true, 1s}, 11, "nacteno 1."},
      {{MiB, 4 * MiB, true, 1s}, 0, ""},
      // An unknown total (a pipe): bytes and rate only.
      {{512, 0, false, 2s}, 80, "nacteno 512 B, 256 B/s"},
      {{5 * MiB / 2, 0, false, 500ms}, 80, "nacteno 2.5 MiB, 5.0 MiB/s"},
      // Units as printed: 1023.96 KiB is 1.0 MiB; GiB with hours left.
      {{1048535, 0, false, 1s}, 80, "nacteno 1.0 MiB, 1.0 MiB/s"},
      {{MiB, 10240 * MiB, true, 1s},
       80,
       "nacteno 1.0 MiB z 10.0 GiB " + bar(0, 25) +
           " 1.0 MiB/s, zbyva 2:50:39"},
      // Nothing read yet: no rate to tell the time left by.
      {{0, 4 * MiB, true, 1s},
       80,
       "nacteno 0 B z 4.0 MiB " + bar(0, 40) + " 0 B/s, zbyva ?"},
      // Read past the total (a part read twice) counts as the total.
      {{5 * MiB, 4 * MiB, true, 1s},
       80,
       "nacteno 4.0 MiB z 4.0 MiB " + bar(29, 29) + " 5.0 MiB/s, zbyva 0:00"},
      // An empty archive of a known size is all read.
      {{0, 0, true, 1s},
       80,
       "nacteno 0 B z 0 B " + bar(40, 40) + " 0 B/s, zbyva ?"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string text = progress_bar_text(c.figures, c.width);
    EXPECT_EQ(text, c.text);
    EXPECT_LT(text.size(), c.width > 0 ? c.width : 1);
  }
}

// A meter on a clock the test sets, recording what it draws.
struct Watched {
  std::chrono::nanoseconds now{0};
  std::vector<std::string> drawn;
  ProgressMeter meter{[this] { return now; },
                      [this](std::string_view bar) { drawn.emplace_back(bar); },
                      80};
};

TEST(ProgressTest, DrawsAfterASecondAtMostFourTimesASecond) {
  Watched w;
  w.now = 100s;
  w.meter.begin();
  w.meter.expect(4 * MiB);
  w.now += 999ms;
  w.meter.advance(MiB);
  EXPECT_TRUE(w.drawn.empty()) << "an archive read within a second shows none";
  w.now += 1ms;
  w.meter.advance(0);
  ASSERT_EQ(w.drawn.size(), 1U);
  EXPECT_EQ(w.drawn[0], progress_bar_text({MiB, 4 * MiB, true, 1s}, 80));
  w.now += 249ms;
  w.meter.advance(MiB);
  EXPECT_EQ(w.drawn.size(), 1U);
  w.now += 1ms;
  w.meter.advance(MiB);
  ASSERT_EQ(w.drawn.size(), 2U);
  EXPECT_EQ(w.drawn[1],
            progress_bar_text({3 * MiB, 4 * MiB, true, 1250ms}, 80));
  // reach() moves forward only.
  w.now += 250ms;
  w.meter.reach(MiB);
  EXPECT_EQ(w.meter.figures().done, 3 * MiB);
  EXPECT_EQ(w.drawn.size(), 3U);
}

TEST(ProgressTest, EachArchiveStartsAfresh) {
  Watched w;
  w.meter.begin();
  w.now = 5s;
  w.meter.advance(MiB);
  ASSERT_EQ(w.drawn.size(), 1U);
  EXPECT_EQ(w.drawn[0], progress_bar_text({MiB, 0, false, 5s}, 80));
  w.meter.begin();
  EXPECT_EQ(w.meter.figures().done, 0U);
  EXPECT_FALSE(w.meter.figures().total_known);
  w.now += 500ms;
  w.meter.advance(MiB);
  EXPECT_EQ(w.drawn.size(), 1U) << "the new archive's second starts over";
}

}  // namespace
