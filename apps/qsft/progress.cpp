#include "qsft/progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <utility>

namespace qs::app {

namespace {

using std::chrono::duration;
using std::chrono::steady_clock;

// A rate needs samples at least this far apart to mean anything.
constexpr std::chrono::milliseconds kMinRateSpan{200};
// Labels longer than this share of the width are shortened.
constexpr int kLabelShare = 3;
// Narrower than this, the bar is left out and the numbers stay.
constexpr int kMinBarRoom = 12;

std::string Shorten(std::string text, size_t limit) {
  if (text.size() <= limit || limit < 4) return text;
  size_t cut = limit - 3;
  // Never cut inside a UTF-8 sequence.
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  text.resize(cut);
  return text + "...";
}

}  // namespace

std::string FormatBytes(uint64_t bytes) {
  static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  if (bytes < 1024) return std::to_string(bytes) + " B";
  double value = static_cast<double>(bytes) / 1024.0;
  size_t unit = 0;
  // Round first, so that 1023.96 KiB reads 1.0 MiB rather than 1024.0 KiB.
  while (std::round(value * 10.0) / 10.0 >= 1024.0 && unit + 1 < std::size(kUnits)) {
    value /= 1024.0;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

std::string FormatDuration(std::chrono::seconds duration) {
  long long total = std::max<long long>(0, duration.count());
  const long long hours = total / 3600;
  const long long minutes = total / 60 % 60;
  const long long seconds = total % 60;
  char text[48];
  if (hours > 0) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", hours, minutes, seconds);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", minutes, seconds);
  }
  return text;
}

ProgressDisplay::ProgressDisplay(std::ostream& out, ProgressStyle style, std::string label,
                                 std::optional<uint64_t> total, ProgressClock clock, int width)
    : out_(out),
      style_(style),
      label_(Shorten(std::move(label), static_cast<size_t>(std::max(width / kLabelShare, 8)))),
      total_(total),
      clock_(std::move(clock)),
      width_(std::max(width, 20)),
      started_(clock_()) {
  samples_.push_back({started_, 0});
}

void ProgressDisplay::Update(uint64_t bytes) {
  if (finished_) return;
  const steady_clock::time_point now = clock_();
  if (bytes < bytes_) samples_.clear();  // sent again: the old samples say nothing now
  bytes_ = bytes;
  samples_.push_back({now, bytes});
  while (samples_.size() > 2 && now - samples_[1].at >= kRateWindow) samples_.pop_front();

  switch (style_) {
    case ProgressStyle::kQuiet: return;
    case ProgressStyle::kBar: {
      const std::string text = BarText();
      out_ << '\r' << text;
      if (text.size() < drawn_width_) out_ << std::string(drawn_width_ - text.size(), ' ');
      drawn_width_ = std::max(drawn_width_, text.size());
      out_.flush();
      return;
    }
    case ProgressStyle::kLines:
      if (last_line_ && now - *last_line_ < kLineInterval) return;
      last_line_ = now;
      out_ << LineText() << '\n';
      out_.flush();
      return;
  }
}

void ProgressDisplay::SetNote(std::string note) { note_ = std::move(note); }

void ProgressDisplay::BreakLine() {
  if (style_ != ProgressStyle::kBar || drawn_width_ == 0) return;
  out_ << '\n';
  out_.flush();
  drawn_width_ = 0;
}

void ProgressDisplay::Finish(std::string_view outcome) {
  if (finished_) return;
  finished_ = true;
  switch (style_) {
    case ProgressStyle::kQuiet: return;
    case ProgressStyle::kBar: {
      const std::string text = FinalText() + ", " + std::string(outcome);
      out_ << '\r' << text;
      if (text.size() < drawn_width_) out_ << std::string(drawn_width_ - text.size(), ' ');
      out_ << '\n';
      break;
    }
    case ProgressStyle::kLines: out_ << FinalText() << ", " << outcome << '\n'; break;
  }
  out_.flush();
}

std::optional<double> ProgressDisplay::Rate() const {
  if (samples_.size() < 2) return std::nullopt;
  const Sample& first = samples_.front();
  const Sample& last = samples_.back();
  const auto span = last.at - first.at;
  if (span < kMinRateSpan) return std::nullopt;
  return static_cast<double>(last.bytes - first.bytes) / duration<double>(span).count();
}

std::string ProgressDisplay::Summary(bool with_bar, int bar_room) const {
  std::string amount = FormatBytes(bytes_);
  std::string percent;
  int filled = 0;
  if (total_) {
    amount += " / " + FormatBytes(*total_);
    const uint64_t done = std::min(bytes_, *total_);
    const double share =
        *total_ == 0 ? 1.0 : static_cast<double>(done) / static_cast<double>(*total_);
    char text[8];
    std::snprintf(text, sizeof text, "%3d%%", static_cast<int>(share * 100.0));
    percent = text;
    filled = static_cast<int>(share * bar_room);
  }
  std::string pace;
  std::string left;
  if (!note_.empty()) {
    pace = note_;
  } else if (const auto rate = Rate()) {
    pace = FormatBytes(static_cast<uint64_t>(*rate)) + "/s";
    if (total_ && *rate > 0 && bytes_ < *total_) {
      const double seconds = std::ceil(static_cast<double>(*total_ - bytes_) / *rate);
      left = FormatDuration(std::chrono::seconds(static_cast<long long>(seconds))) + " left";
    }
  }

  std::string text = label_;
  if (with_bar) {
    text += " [" + std::string(static_cast<size_t>(filled), '#') +
            std::string(static_cast<size_t>(bar_room - filled), '.') + "]";
  }
  if (!percent.empty()) text += " " + percent;
  text += "  " + amount;
  if (!pace.empty()) text += "  " + pace;
  if (!left.empty()) text += "  " + left;
  return text;
}

std::string ProgressDisplay::BarText() const {
  if (!total_) return Summary(false, 0);
  // The bar takes whatever room the numbers leave; the last column stays free so that the
  // terminal does not wrap.
  const std::string plain = Summary(true, 0);
  const int room = width_ - 1 - static_cast<int>(plain.size());
  if (room < kMinBarRoom) return Summary(false, 0);
  return Summary(true, room);
}

std::string ProgressDisplay::FinalText() const {
  const auto elapsed = clock_() - started_;
  std::string text = label_ + ": " + FormatBytes(bytes_) + " in " +
                     FormatDuration(std::chrono::duration_cast<std::chrono::seconds>(elapsed));
  if (elapsed >= kMinRateSpan) {
    const double rate = static_cast<double>(bytes_) / duration<double>(elapsed).count();
    text += " (" + FormatBytes(static_cast<uint64_t>(rate)) + "/s)";
  }
  return text;
}

std::string ProgressDisplay::LineText() const {
  std::string text = label_ + ": " + FormatBytes(bytes_);
  if (total_) {
    const uint64_t done = std::min(bytes_, *total_);
    const int percent =
        *total_ == 0
            ? 100
            : static_cast<int>(static_cast<double>(done) * 100.0 / static_cast<double>(*total_));
    text += " of " + FormatBytes(*total_) + " (" + std::to_string(percent) + "%)";
  }
  if (!note_.empty()) {
    text += ", " + note_;
  } else if (const auto rate = Rate()) {
    text += ", " + FormatBytes(static_cast<uint64_t>(*rate)) + "/s";
    if (total_ && *rate > 0 && bytes_ < *total_) {
      const double seconds = std::ceil(static_cast<double>(*total_ - bytes_) / *rate);
      text +=
          ", " + FormatDuration(std::chrono::seconds(static_cast<long long>(seconds))) + " left";
    }
  }
  return text;
}

}  // namespace qs::app
