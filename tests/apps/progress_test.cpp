// What the progress display writes, fed by a fake clock: bytes, rates, time left, and how a
// terminal bar and plain lines differ.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <sstream>
#include <string>

#include "qsft/progress.h"

namespace qs::app {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using std::chrono::steady_clock;

constexpr uint64_t kMiB = 1024 * 1024;

class FakeClock {
 public:
  ProgressClock Get() {
    return [this] { return now_; };
  }
  void Advance(milliseconds step) { now_ += step; }

 private:
  steady_clock::time_point now_{seconds(1000)};
};

TEST(FormatBytes, UsesBinaryUnitsWithOneDecimal) {
  EXPECT_EQ(FormatBytes(0), "0 B");
  EXPECT_EQ(FormatBytes(1023), "1023 B");
  EXPECT_EQ(FormatBytes(1024), "1.0 KiB");
  EXPECT_EQ(FormatBytes(1536), "1.5 KiB");
  EXPECT_EQ(FormatBytes(kMiB - 1), "1.0 MiB");  // rounds up into the next unit, not "1024.0 KiB"
  EXPECT_EQ(FormatBytes(200 * kMiB), "200.0 MiB");
  EXPECT_EQ(FormatBytes(3 * 1024 * kMiB / 2), "1.5 GiB");
  EXPECT_EQ(FormatBytes(UINT64_MAX), "16.0 EiB");
}

TEST(FormatDuration, MinutesAndSecondsThenHours) {
  EXPECT_EQ(FormatDuration(seconds(0)), "0:00");
  EXPECT_EQ(FormatDuration(seconds(7)), "0:07");
  EXPECT_EQ(FormatDuration(seconds(754)), "12:34");
  EXPECT_EQ(FormatDuration(seconds(3723)), "1:02:03");
  EXPECT_EQ(FormatDuration(seconds(-5)), "0:00");
}

TEST(ProgressDisplay, UnknownTotalShowsBytesAndRateOnly) {
  FakeClock clock;
  std::ostringstream out;
  ProgressDisplay display(out, ProgressStyle::kBar, "report.pdf", std::nullopt, clock.Get());
  EXPECT_EQ(display.BarText(), "report.pdf  0 B");  // no rate before time has passed
  clock.Advance(milliseconds(1000));
  display.Update(2 * kMiB);
  EXPECT_EQ(display.BarText(), "report.pdf  2.0 MiB  2.0 MiB/s");
  EXPECT_EQ(display.LineText(), "report.pdf: 2.0 MiB, 2.0 MiB/s");
}

TEST(ProgressDisplay, KnownTotalShowsShareBarAndTimeLeft) {
  FakeClock clock;
  std::ostringstream out;
  ProgressDisplay display(out, ProgressStyle::kBar, "a.bin", 10 * kMiB, clock.Get(), 80);
  clock.Advance(milliseconds(2000));
  display.Update(4 * kMiB);  // 2 MiB/s, 6 MiB to go: 3 seconds
  const std::string bar = display.BarText();
  EXPECT_EQ(bar.rfind("a.bin [", 0), 0u) << bar;
  EXPECT_NE(bar.find("]  40%  4.0 MiB / 10.0 MiB  2.0 MiB/s  0:03 left"), std::string::npos) << bar;
  EXPECT_EQ(bar.size(), 79u) << bar;  // fills the width but the last column
  const size_t open_at = bar.find('[');
  const std::string inside = bar.substr(open_at + 1, bar.find(']') - open_at - 1);
  const auto filled = std::count(inside.begin(), inside.end(), '#');
  EXPECT_EQ(filled + std::count(inside.begin(), inside.end(), '.'),
            static_cast<std::ptrdiff_t>(inside.size()));
  EXPECT_NEAR(static_cast<double>(filled), 0.4 * static_cast<double>(inside.size()), 1.0);
  EXPECT_EQ(display.LineText(), "a.bin: 4.0 MiB of 10.0 MiB (40%), 2.0 MiB/s, 0:03 left");

  // Too narrow for a bar worth the name: the numbers stay.
  ProgressDisplay narrow(out, ProgressStyle::kBar, "a.bin", 10 * kMiB, clock.Get(), 60);
  clock.Advance(milliseconds(2000));
  narrow.Update(4 * kMiB);
  EXPECT_EQ(narrow.BarText(), "a.bin  40%  4.0 MiB / 10.0 MiB  2.0 MiB/s  0:03 left");
}

TEST(ProgressDisplay, RateFollowsTheRecentWindowNotTheWholeTransfer) {
  FakeClock clock;
  std::ostringstream out;
  ProgressDisplay display(out, ProgressStyle::kQuiet, "f", std::nullopt, clock.Get());
  for (int i = 1; i <= 10; ++i) {  // 1 MiB/s for ten seconds
    clock.Advance(milliseconds(1000));
    display.Update(static_cast<uint64_t>(i) * kMiB);
  }
  for (int i = 1; i <= 10; ++i) {  // then stalled: the rate must drop to nothing
    clock.Advance(milliseconds(1000));
    display.Update(10 * kMiB);
  }
  EXPECT_EQ(display.LineText(), "f: 10.0 MiB, 0 B/s");
  EXPECT_EQ(out.str(), "");  // quiet writes nothing at all
  display.Finish("done");
  EXPECT_EQ(out.str(), "");
}

TEST(ProgressDisplay, BytesFallingBackRestartTheRate) {
  FakeClock clock;
  std::ostringstream out;
  ProgressDisplay display(out, ProgressStyle::kQuiet, "f", 8 * kMiB, clock.Get());
  clock.Advance(milliseconds(1000));
  display.Update(4 * kMiB);
  clock.Advance(milliseconds(1000));
  display.Update(2 * kMiB);                                      // a chunk sent again
  EXPECT_EQ(display.LineText(), "f: 2.0 MiB of 8.0 MiB (25%)");  // no rate from one sample
  clock.Advance(milliseconds(1000));
  display.Update(3 * kMiB);
  EXPECT_EQ(display.LineText(), "f: 3.0 MiB of 8.0 MiB (37%), 1.0 MiB/s, 0:05 left");
}

TEST(ProgressDisplay, BarRedrawsInPlaceAndBlanksWhatAShorterTextLeaves) {
  FakeClock clock;
  std::ostringstream out;
  ProgressDisplay display(out, ProgressStyle::kBar, "f", std::nullopt, clock.Get());
  clock.Advance(milliseconds(1000));
  display.Update(1500 * kMiB);
  clock.Advance(milliseconds(6000));
  display.Update(1500 * kMiB);  // nothing new in the window: the rate text shrinks to "0 B/s"
  display.Finish("done");
  EXPECT_EQ(out.str(),
            "\rf  1.5 GiB  1.5 GiB/s"
            "\rf  1.5 GiB  0 B/s    "
            "\rf: 1.5 GiB in 0:07 (214.3 MiB/s), done\n");
}

TEST(ProgressDisplay, PlainLinesAreSpacedOutAndEndWithASummary) {
  FakeClock clock;
  std::ostringstream out;
  ProgressDisplay display(out, ProgressStyle::kLines, "f", 4 * kMiB, clock.Get());
  display.Update(0);
  for (int i = 1; i <= 4; ++i) {
    clock.Advance(milliseconds(500));
    display.Update(static_cast<uint64_t>(i) * kMiB / 2);
  }
  display.Finish("done");
  EXPECT_EQ(out.str(),
            "f: 0 B of 4.0 MiB (0%)\n"
            "f: 2.0 MiB of 4.0 MiB (50%), 1.0 MiB/s, 0:02 left\n"
            "f: 2.0 MiB in 0:02 (1.0 MiB/s), done\n");
}

TEST(ProgressDisplay, NoteReplacesTheRateAndBreakLineEndsTheBar) {
  FakeClock clock;
  std::ostringstream out;
  ProgressDisplay display(out, ProgressStyle::kBar, "f", std::nullopt, clock.Get());
  clock.Advance(milliseconds(1000));
  display.Update(1024);
  display.SetNote("cancelling");
  display.BreakLine();
  display.BreakLine();  // nothing drawn since: nothing to end
  display.Update(2048);
  EXPECT_EQ(out.str(), "\rf  1.0 KiB  1.0 KiB/s\n\rf  2.0 KiB  cancelling");
}

TEST(ProgressDisplay, LongLabelsAreShortenedAtACharacterBoundary) {
  FakeClock clock;
  std::ostringstream out;
  // 40 bytes of two-byte characters; the label may take a third of 60 columns.
  std::string label;
  for (int i = 0; i < 20; ++i) label += "\xC3\xA9";
  ProgressDisplay display(out, ProgressStyle::kQuiet, label, std::nullopt, clock.Get(), 60);
  const std::string text = display.LineText();
  const std::string shown = text.substr(0, text.find(':'));
  EXPECT_LE(shown.size(), 20u);
  EXPECT_EQ(shown.substr(shown.size() - 3), "...");
  EXPECT_EQ((shown.size() - 3) % 2, 0u) << "cut inside a character: " << shown;
}

}  // namespace
}  // namespace qs::app
