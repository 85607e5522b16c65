#include "progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <utility>

#include "messages.h"

namespace {

using std::chrono::nanoseconds;
using namespace std::chrono_literals;

// An archive read faster than this never shows the bar.
constexpr nanoseconds SHOW_AFTER = 1s;
constexpr nanoseconds REDRAW_EVERY = 250ms;
// The bar itself: no wider than this, and left out below the narrowest.
constexpr std::size_t BAR_WIDEST = 40;
constexpr std::size_t BAR_NARROWEST = 5;
constexpr std::size_t DEFAULT_WIDTH = 80;

// "512 B", "1.2 KiB" ... "3.0 TiB".
std::string bytes_text(std::uint64_t bytes) {
  char text[32];
  if (bytes < 1024) {
    std::snprintf(text, sizeof text, "%" PRIu64 " B", bytes);
    return text;
  }
  static constexpr const char* UNITS[] = {"KiB", "MiB", "GiB", "TiB", "PiB"};
  double value = static_cast<double>(bytes) / 1024;
  std::size_t unit = 0;
  // Rounded as printed, so that 1023.96 KiB shows as 1.0 MiB.
  while (value >= 1023.95 && unit + 1 < std::size(UNITS)) {
    value /= 1024;
    ++unit;
  }
  std::snprintf(text, sizeof text, "%.1f %s", value, UNITS[unit]);
  return text;
}

// "0:04", "12:30", "2:05:00"; "?" when nothing has been read to tell by.
std::string time_text(double seconds) {
  if (!(seconds >= 0) || seconds > 359999) return "?";
  const auto whole = static_cast<std::uint64_t>(seconds + 0.999);
  char text[32];
  if (whole < 3600)
    std::snprintf(text, sizeof text, "%" PRIu64 ":%02" PRIu64, whole / 60,
                  whole % 60);
  else
    std::snprintf(text, sizeof text, "%" PRIu64 ":%02" PRIu64 ":%02" PRIu64,
                  whole / 3600, whole / 60 % 60, whole % 60);
  return text;
}

std::size_t terminal_width() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
    return size.ws_col;
  return DEFAULT_WIDTH;
}

}  // namespace

std::string progress_bar_text(const ProgressFigures& figures,
                              std::size_t width) {
  namespace words = progress_words;
  const std::size_t room = width > 0 ? width - 1 : 0;
  const double seconds = std::chrono::duration<double>(figures.elapsed).count();
  const double rate =
      seconds > 0 ? static_cast<double>(figures.done) / seconds : 0;
  const std::string rate_text =
      bytes_text(static_cast<std::uint64_t>(rate)).append(words::PER_SECOND);
  // A part read again (--single-file) counts no further than the total.
  const std::uint64_t done = figures.total_known
                                 ? std::min(figures.done, figures.total)
                                 : figures.done;
  std::string text(words::READ);
  text.append(bytes_text(done));
  if (!figures.total_known) {
    text.append(", ").append(rate_text);
  } else {
    text.append(words::OF).append(bytes_text(figures.total));
    const double left =
        rate > 0 ? static_cast<double>(figures.total - done) / rate : -1;
    const std::string tail = std::string(", ")
                                 .append(rate_text)
                                 .append(", ")
                                 .append(words::LEFT)
                                 .append(time_text(left));
    // " [" and "] " around the bar, in place of the first ", ".
    const std::size_t fixed = text.size() + tail.size() + 2;
    const std::size_t bar =
        room > fixed ? std::min(room - fixed, BAR_WIDEST) : 0;
    if (bar >= BAR_NARROWEST) {
      std::size_t filled = bar;
      if (figures.total > 0)
        filled = static_cast<std::size_t>(static_cast<double>(bar) *
                                          static_cast<double>(done) /
                                          static_cast<double>(figures.total));
      text.append(" [").append(filled, '#').append(bar - filled, '.');
      text.append("] ").append(tail.substr(2));
    } else {
      text.append(tail);
    }
  }
  // Too narrow: whole pieces go from the end (time left, then the rate).
  while (text.size() > room) {
    const std::size_t comma = text.rfind(", ");
    if (comma == std::string::npos) {
      text.resize(room);
      break;
    }
    text.resize(comma);
  }
  return text;
}

ProgressMeter::ProgressMeter(Clock clock, Draw draw, std::size_t width)
    : clock_(std::move(clock)), draw_(std::move(draw)), width_(width) {}

void ProgressMeter::begin() {
  figures_ = {};
  began_ = clock_();
  drawn_ = false;
}

void ProgressMeter::expect(std::uint64_t total) {
  figures_.total = total;
  figures_.total_known = true;
}

void ProgressMeter::advance(std::uint64_t bytes) {
  figures_.done += bytes;
  maybe_draw();
}

void ProgressMeter::reach(std::uint64_t done) {
  figures_.done = std::max(figures_.done, done);
  maybe_draw();
}

void ProgressMeter::maybe_draw() {
  const nanoseconds now = clock_();
  figures_.elapsed = now - began_;
  if (figures_.elapsed < SHOW_AFTER) return;
  if (drawn_ && now - drawn_at_ < REDRAW_EVERY) return;
  drawn_ = true;
  drawn_at_ = now;
  draw_(progress_bar_text(figures_, width_));
}

ProgressMeter* active_progress = nullptr;

void turn_on_progress() {
  if (::isatty(STDERR_FILENO) != 1) return;
  static ProgressMeter meter(
      [] {
        return std::chrono::duration_cast<nanoseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
      },
      show_progress_bar, terminal_width());
  active_progress = &meter;
}

ArchiveProgress::ArchiveProgress() {
  if (active_progress != nullptr) active_progress->begin();
}

ArchiveProgress::~ArchiveProgress() {
  if (active_progress != nullptr) clear_progress_bar();
}
