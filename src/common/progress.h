// --progress: a bar on standard error, for a person watching a terminal, of
// how much of the archive has been read. Readers report each block they
// read; the bar appears once an archive has taken a second.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// What the bar shows at one moment.
struct ProgressFigures {
  std::uint64_t done = 0;   // bytes read
  std::uint64_t total = 0;  // bytes to read, when total_known
  bool total_known = false;
  std::chrono::nanoseconds elapsed{0};  // since the archive began
};

// The bar's text for a terminal `width` columns wide: bytes read of the
// total, a bar, the rate and the time left; for an unknown total, bytes and
// rate only. Never wider than width - 1, so the cursor never wraps.
std::string progress_bar_text(const ProgressFigures& figures,
                              std::size_t width);

// Counts the bytes of one archive at a time and draws the bar through
// `draw` once the archive has taken a second, then at most four times a
// second, only when a block has been read: the clock is asked once per
// block, never per byte.
class ProgressMeter {
 public:
  using Clock = std::function<std::chrono::nanoseconds()>;
  using Draw = std::function<void(std::string_view)>;

  ProgressMeter(Clock clock, Draw draw, std::size_t width);

  // A new archive: nothing read, the total unknown.
  void begin();
  // The total of bytes this archive will be read for.
  void expect(std::uint64_t total);
  // `bytes` more have been read; `done` bytes in all.
  void advance(std::uint64_t bytes);
  void reach(std::uint64_t done);
  [[nodiscard]] const ProgressFigures& figures() const { return figures_; }

 private:
  void maybe_draw();

  Clock clock_;
  Draw draw_;
  std::size_t width_;
  std::chrono::nanoseconds began_{0};
  std::chrono::nanoseconds drawn_at_{0};
  bool drawn_ = false;
  ProgressFigures figures_;
};

// The run's meter: set only with --progress on a terminal, so without it
// each report below is one test of a null pointer.
extern ProgressMeter* active_progress;

// Turns the bar on for this run when standard error is a terminal; its
// width is the terminal's.
void turn_on_progress();

inline void progress_expect(std::uint64_t total) {
  if (active_progress != nullptr) active_progress->expect(total);
}
inline void progress_read(std::uint64_t bytes) {
  if (active_progress != nullptr) active_progress->advance(bytes);
}
inline void progress_reach(std::uint64_t done) {
  if (active_progress != nullptr) active_progress->reach(done);
}

// One archive's span: the meter starts afresh, and the bar is cleared when
// the archive ends, however it ends.
class ArchiveProgress {
 public:
  ArchiveProgress();
  ~ArchiveProgress();
  ArchiveProgress(const ArchiveProgress&) = delete;
  ArchiveProgress& operator=(const ArchiveProgress&) = delete;
};
