// qsft-transfer-bench: transfers through the control, timed, for scripts/bench. Each mode prints
// one line of "key=value" pairs; scripts/bench runs the same transfers with curl and compares.
//
//   download BASE_URL NAME TARGET          one download; seconds, peak resident size
//   first-byte BASE_URL NAME TARGET        StartFileDownload to the page seeing the first bytes
//                                          in GetTransferStatus, on a new control and again
//                                          on the same one (TARGET and TARGET.2 are written)
//   concurrent BASE_URL NAME DIR N         N controls, one download each, all at once
//   upload BASE_URL FILE CHUNK_BYTES       one upload in chunks of that size
//
// The page's polling is imitated by a status read every millisecond (finer for the first byte).
#include <sys/prctl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/text.h"
#include "control/client_site.h"
#include "control/control.h"
#include "dialogs/scripted_dialogs.h"

namespace {

using Clock = std::chrono::steady_clock;
using qs::CQSFileTransferCtrl;
using qs::FromUtf8;
using qs::InvokeKind;
using qs::ToUtf8;
using qs::Variant;

class BenchSite : public qs::ClientSite {
 public:
  explicit BenchSite(std::u16string page) : page_(std::move(page)) {}
  std::optional<qs::PageIdentity> GetPageIdentity() override { return qs::PageIdentity{page_, 2}; }
  qs::platform::Dialogs* GetDialogs() override { return &dialogs; }
  qs::platform::ScriptedDialogs dialogs;

 private:
  std::u16string page_;
};

// Peak resident size of this process so far, in KiB.
long PeakRssKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

struct Page {
  std::shared_ptr<BenchSite> site;
  std::unique_ptr<CQSFileTransferCtrl> control;
};

Page MakePage(const std::string& base_url) {
  Page page;
  page.site = std::make_shared<BenchSite>(FromUtf8(base_url + "/wc/bench.html"));
  page.control = std::make_unique<CQSFileTransferCtrl>(page.site);
  page.control->ResetProperties();
  return page;
}

Variant Call(CQSFileTransferCtrl& control, std::u16string_view name, std::vector<Variant> args) {
  qs::InvokeResult r = control.Invoke(name, InvokeKind::kMethod, args);
  if (!r.ok()) {
    std::cerr << "call " << ToUtf8(name) << " refused: " << ToUtf8(r.message) << "\n";
    std::exit(2);
  }
  return r.value;
}

void Grant(Page& page, const std::string& dir) {
  page.site->dialogs.Queue(qs::platform::scripted::Folder{FromUtf8(dir)});
  if (Call(*page.control, u"SelectDownloadDir", {}) != Variant::String(FromUtf8(dir))) {
    std::cerr << "no grant for " << dir << "\n";
    std::exit(2);
  }
}

void StartDownload(Page& page, const std::string& name, const std::string& target) {
  Variant ticket = Call(
      *page.control, u"StartFileDownload",
      {Variant::String(FromUtf8("/download?file=" + name)), Variant::String(FromUtf8(target))});
  if (ticket.type() != Variant::Type::kInt32) {
    std::cerr << "not started: " << ToUtf8(ticket.as_string()) << "\n";
    std::exit(2);
  }
}

std::string Status(Page& page) {
  return ToUtf8(Call(*page.control, u"GetTransferStatus", {Variant::Int(0)}).as_string());
}

bool Running(const std::string& status) {
  return status.rfind("1|", 0) == 0 || status.rfind("2|", 0) == 0;
}

std::string AwaitEnd(Page& page) {
  std::string status;
  while (Running(status = Status(page))) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return status;
}

std::string DirOf(const std::string& path) { return path.substr(0, path.rfind('/')); }

int Download(const std::string& base, const std::string& name, const std::string& target) {
  Page page = MakePage(base);
  Grant(page, DirOf(target));
  const auto start = Clock::now();
  StartDownload(page, name, target);
  const std::string status = AwaitEnd(page);
  const double secs = Seconds(Clock::now() - start);
  std::printf("seconds=%.4f peak_rss_kib=%ld status=%s\n", secs, PeakRssKiB(), status.c_str());
  return status.rfind("10|", 0) == 0 ? 0 : 1;
}

// Bytes the page sees as transferred in a status text "state|bytes|text".
uint64_t StatusBytes(const std::string& status) {
  const size_t bar = status.find('|');
  return bar == std::string::npos ? 0 : std::strtoull(status.c_str() + bar + 1, nullptr, 10);
}

// Time until the page sees the first bytes in GetTransferStatus, polled every few microseconds;
// the download then runs to its end. -1 when it ended before any byte was seen, or failed.
double TimeToFirstByte(Page& page, const std::string& name, const std::string& target) {
  const auto start = Clock::now();
  StartDownload(page, name, target);
  double first = -1;
  for (;;) {
    const std::string status = Status(page);
    if (StatusBytes(status) > 0) {
      first = Seconds(Clock::now() - start);
      break;
    }
    if (!Running(status)) break;
    std::this_thread::sleep_for(std::chrono::microseconds(20));
  }
  if (AwaitEnd(page).rfind("10|", 0) != 0) return -1;
  return first;
}

// The first download of a control opens its session; the second finds it open, with the
// connection the first left.
int FirstByte(const std::string& base, const std::string& name, const std::string& target) {
  // Fine polling: sleeps end within microseconds rather than the default 50 us slack.
  ::prctl(PR_SET_TIMERSLACK, 1UL);
  Page page = MakePage(base);
  Grant(page, DirOf(target));
  const double cold = TimeToFirstByte(page, name, target);
  const double warm = TimeToFirstByte(page, name, target + ".2");
  std::printf("first_byte_ms=%.3f warm_first_byte_ms=%.3f\n", cold * 1000, warm * 1000);
  return cold >= 0 && warm >= 0 ? 0 : 1;
}

int Concurrent(const std::string& base, const std::string& name, const std::string& dir, int n) {
  std::vector<Page> pages;
  for (int i = 0; i < n; ++i) {
    pages.push_back(MakePage(base));
    Grant(pages.back(), dir);
  }
  const auto start = Clock::now();
  for (int i = 0; i < n; ++i)
    StartDownload(pages[i], name, dir + "/c" + std::to_string(i) + ".bin");
  std::vector<double> ended(n, -1);
  int left = n, failed = 0;
  while (left > 0) {
    for (int i = 0; i < n; ++i) {
      if (ended[i] >= 0) continue;
      const std::string status = Status(pages[i]);
      if (Running(status)) continue;
      ended[i] = Seconds(Clock::now() - start);
      if (status.rfind("10|", 0) != 0) ++failed;
      --left;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const auto [first, last] = std::minmax_element(ended.begin(), ended.end());
  std::printf("first_done_s=%.4f last_done_s=%.4f peak_rss_kib=%ld failed=%d\n", *first, *last,
              PeakRssKiB(), failed);
  return failed == 0 ? 0 : 1;
}

int Upload(const std::string& base, const std::string& file, uint32_t chunk) {
  Page page = MakePage(base);
  page.site->dialogs.Queue(qs::platform::scripted::Button{qs::platform::MessageAnswer::kYes});
  const auto start = Clock::now();
  Variant ticket = Call(*page.control, u"StartFileUpload",
                        {Variant::String(u"/wc/upload"), Variant::Bool(true),
                         Variant::String(FromUtf8(file)), Variant::Int(int32_t(chunk))});
  if (ticket.type() != Variant::Type::kInt32) {
    std::cerr << "not started: " << ToUtf8(ticket.as_string()) << "\n";
    return 2;
  }
  const std::string status = AwaitEnd(page);
  std::printf("seconds=%.4f peak_rss_kib=%ld status=%s\n", Seconds(Clock::now() - start),
              PeakRssKiB(), status.c_str());
  return status.rfind("10|", 0) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> a(argv + 1, argv + argc);
  if (a.size() == 4 && a[0] == "download") return Download(a[1], a[2], a[3]);
  if (a.size() == 4 && a[0] == "first-byte") return FirstByte(a[1], a[2], a[3]);
  if (a.size() == 5 && a[0] == "concurrent") return Concurrent(a[1], a[2], a[3], std::stoi(a[4]));
  if (a.size() == 4 && a[0] == "upload") {
    return Upload(a[1], a[2], static_cast<uint32_t>(std::stoul(a[3])));
  }
  std::cerr << "usage: qsft-transfer-bench download|first-byte|concurrent|upload ...\n";
  return 2;
}
