#include "transfer/download_decisions.h"

#include <algorithm>
#include <limits>

namespace qs {

namespace {

constexpr uint32_t kStatusOk = 200;
constexpr uint32_t kStatusAccepted = 202;
constexpr uint32_t kStatusNoContent = 204;

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

int64_t ParseLengthHeader(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Accumulated as a negative number, whose range reaches one further than the positive one.
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  int64_t value = 0;
  bool saturated = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const int digit = text[i] - '0';
    if (value < (kMin + digit) / 10) {
      saturated = true;
      break;
    }
    value = value * 10 - digit;
  }
  if (negative) return saturated ? kMin : value;
  if (saturated || value == kMin) return std::numeric_limits<int64_t>::max();
  return -value;
}

FirstAnswer ReadFirstAnswer(uint32_t status) {
  switch (status) {
    case kStatusAccepted: return FirstAnswer::kAskAgain;
    case kStatusNoContent: return FirstAnswer::kNoContent;
    case kStatusOk: return FirstAnswer::kBody;
    default: return FirstAnswer::kRefused;
  }
}

std::optional<int64_t> AnnouncedLength(const std::optional<std::string>& header) {
  if (!header) return kUnknownLength;
  const int64_t length = ParseLengthHeader(*header);
  if (length < kUnknownLength) return std::nullopt;
  return length;
}

bool ResumedAnswerFits(uint32_t status, const std::optional<std::string>& resumed_from,
                       int64_t received) {
  return status == kStatusOk && resumed_from && ParseLengthHeader(*resumed_from) == received;
}

bool AnnouncedLengthReached(const ReceiveProgress& progress) {
  return progress.announced != kUnknownLength && progress.received >= progress.announced;
}

AfterRead DecideAfterRead(const ReceiveProgress& progress, size_t got, bool failed) {
  if (got > 0) return AfterRead::kWrite;
  // Without a length an empty read is the end, and a failed one is the download's failure.
  if (progress.announced == kUnknownLength) return failed ? AfterRead::kFail : AfterRead::kEnd;
  if (!failed && progress.empty_reads + 1 <= kMaxEmptyReads) return AfterRead::kReadAgain;
  // Nothing to resume from before the first byte, and a server that breaks again and again
  // without sending anything is given up on.
  if (progress.resumptions >= kMaxResumptions || progress.received == 0) {
    return AfterRead::kGiveUp;
  }
  return AfterRead::kResume;
}

bool AnnouncedLengthMet(const ReceiveProgress& progress) {
  return progress.announced <= 0 || progress.received == progress.announced;
}

std::chrono::milliseconds ResumePause(uint32_t resumptions) {
  return resumptions * kResumePauseStep;
}

std::chrono::milliseconds AskAgainPause(uint32_t answers) {
  if (answers <= kImmediateAskAgains) return std::chrono::milliseconds(0);
  std::chrono::milliseconds pause = kFirstAskAgainPause;
  for (uint32_t i = kImmediateAskAgains + 1; i < answers && pause < kLongestAskAgainPause; ++i) {
    pause *= 2;
  }
  return std::min(pause, kLongestAskAgainPause);
}

std::u16string WithParameter(std::u16string_view url, std::u16string_view parameter) {
  std::u16string out(url);
  out += url.find(u'?') == std::u16string_view::npos ? u'?' : u'&';
  out += parameter;
  return out;
}

}  // namespace qs
