// The progress of one transfer as a person reads it on a terminal or in a log.
//
// The display is fed the byte count at every poll and decides itself what to write: on a
// terminal one bar redrawn in place (bytes, rate, and with a known total the share done and
// the time left); elsewhere a plain line at most every few seconds, so that a log stays short;
// nothing when quiet. Time comes from an injected clock, so that what is written is a pure
// function of the samples fed in.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

namespace qs::app {

enum class ProgressStyle { kBar, kLines, kQuiet };

using ProgressClock = std::function<std::chrono::steady_clock::time_point()>;

// "0 B", "999 B", "1.0 KiB", "12.3 MiB", "1.5 GiB": binary units, one decimal above bytes.
std::string FormatBytes(uint64_t bytes);
// "0:07", "12:34", "1:02:03".
std::string FormatDuration(std::chrono::seconds duration);

class ProgressDisplay {
 public:
  // Rates are measured over this much recent time, so that a pause or a resumption shows soon.
  static constexpr std::chrono::seconds kRateWindow{5};
  // Plain lines are written at most this often (plus a last one at the end).
  static constexpr std::chrono::seconds kLineInterval{2};

  ProgressDisplay(std::ostream& out, ProgressStyle style, std::string label,
                  std::optional<uint64_t> total, ProgressClock clock, int width = 80);

  // The bytes moved so far. They may fall back (an upload sends a chunk again); the rate then
  // starts afresh.
  void Update(uint64_t bytes);
  // The total learnt once the transfer has begun (a download's announced length).
  void SetTotal(uint64_t total) { total_ = total; }
  // A note shown instead of the rate from now on ("cancelling").
  void SetNote(std::string note);
  // Ends the bar's line, if one is drawn, so that another message can be written below it;
  // the next update draws the bar anew.
  void BreakLine();
  // Writes the last state and ends the line; `outcome` closes it ("done", "failed").
  void Finish(std::string_view outcome);

  // What the bar or a plain line says at this moment (without "\r" or line end).
  std::string BarText() const;
  std::string LineText() const;
  // The closing summary: bytes, time taken and average rate.
  std::string FinalText() const;

 private:
  struct Sample {
    std::chrono::steady_clock::time_point at;
    uint64_t bytes;
  };
  // Bytes a second over the window, nothing until two samples are a moment apart.
  std::optional<double> Rate() const;
  std::string Summary(bool with_bar, int bar_room) const;

  std::ostream& out_;
  const ProgressStyle style_;
  const std::string label_;
  std::optional<uint64_t> total_;
  const ProgressClock clock_;
  const int width_;
  const std::chrono::steady_clock::time_point started_;
  std::deque<Sample> samples_;
  uint64_t bytes_ = 0;
  std::string note_;
  std::optional<std::chrono::steady_clock::time_point> last_line_;
  size_t drawn_width_ = 0;  // of the bar on screen, to blank what a shorter redraw leaves
  bool finished_ = false;
};

}  // namespace qs::app
