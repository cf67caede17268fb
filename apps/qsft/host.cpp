#include "qsft/host.h"

#include <istream>
#include <ostream>
#include <string>

#include "base/text.h"
#include "qsft/host_session.h"

namespace qs::app {

namespace {

enum class LineStatus { kLine, kTooLong, kEnd };

// Reads up to the next '\n' (not kept). A line longer than `max_bytes` is consumed to its end
// without being kept, so one oversized request costs no more memory than the limit.
LineStatus ReadLine(std::istream& in, size_t max_bytes, std::string& line) {
  line.clear();
  std::streambuf* buf = in.rdbuf();
  bool any = false;
  bool too_long = false;
  for (;;) {
    int c = buf->sbumpc();
    if (c == std::char_traits<char>::eof()) {
      in.setstate(std::ios::eofbit);
      if (!any) return LineStatus::kEnd;
      break;
    }
    any = true;
    if (c == '\n') break;
    if (line.size() >= max_bytes) {
      too_long = true;
      line.clear();
      continue;
    }
    if (!too_long) line.push_back(static_cast<char>(c));
  }
  return too_long ? LineStatus::kTooLong : LineStatus::kLine;
}

}  // namespace

int RunHost(std::istream& in, std::ostream& out, std::ostream& diag, const HostOptions& options) {
  HostSession session(options, diag);
  std::string line;
  while (!session.done()) {
    LineStatus status = ReadLine(in, options.limits.max_bytes, line);
    if (status == LineStatus::kEnd) break;
    std::string answer =
        status == LineStatus::kTooLong
            ? session.RefuseLine(u"request longer than " +
                                 FromAscii(std::to_string(options.limits.max_bytes)) + u" bytes")
            : session.Answer(line);
    answer.push_back('\n');
    out.write(answer.data(), static_cast<std::streamsize>(answer.size()));
    out.flush();
    if (!out) {
      diag << "qsft host: cannot write the answer; ending the session\n";
      return 1;
    }
  }
  return 0;
}

}  // namespace qs::app
