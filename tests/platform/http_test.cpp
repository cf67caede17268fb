// The HTTP session against a real server on 127.0.0.1.
#include "platform/http.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <future>
#include <mutex>
#include <random>
#include <thread>
#include <utility>
#include <vector>

#include "devserver/server.h"
#include "platform/http_curl_errors.h"
#include "platform/http_trace.h"
#include "platform/last_error.h"
#include "support/temp_dir.h"

namespace qs::platform {
namespace {

using devserver::Fault;
using namespace std::chrono_literals;

constexpr size_t kPiece = 4096;  // what the download asks for

std::string RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 gen(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(gen() & 0xFF);
  return bytes;
}

struct Drained {
  std::string bytes;
  uint32_t error = 0;  // the code of the read that failed, 0 when the body ended
  size_t largest_piece = 0;
};

// Reads the whole body in pieces of `piece` bytes, the way the download does.
Drained Drain(HttpRequest& request, size_t piece = kPiece) {
  Drained out;
  std::vector<std::byte> buffer(piece);
  for (int guard = 0; guard < 1'000'000; ++guard) {
    auto n = request.Read(buffer);
    if (!n) {
      out.error = n.code();
      break;
    }
    if (*n == 0) break;
    out.largest_piece = std::max(out.largest_piece, *n);
    out.bytes.append(reinterpret_cast<const char*>(buffer.data()), *n);
  }
  return out;
}

class HttpSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    small_ = "small file contents\n";
    big_ = RandomBytes(3 * 1024 * 1024 + 123, 7);
    testing::WriteFile(root_ / "small.txt", small_);
    testing::WriteFile(root_ / "big.bin", big_);
    server_ = std::make_unique<devserver::Server>(ServerOptions());
    ASSERT_TRUE(server_->Start());
    auto session = HttpSession::Open({.agent = "qsft-test"});
    ASSERT_TRUE(session.ok()) << session.code();
    session_ = session.value();
  }

  void TearDown() override {
    session_->Close();
    server_->Stop();
  }

  devserver::Options ServerOptions() const {
    devserver::Options options;
    options.root = root_.path();
    return options;
  }

  std::string Url(const std::string& file) const {
    return server_->base_url() + "/download?file=" + file;
  }

  std::unique_ptr<HttpRequest> Open(const std::string& url) {
    auto request = session_->OpenUrl(url);
    EXPECT_TRUE(request.ok()) << url << " failed with " << request.code();
    return request.ok() ? std::move(request).value() : nullptr;
  }

  testing::TempDir root_;
  std::string small_;
  std::string big_;
  std::unique_ptr<devserver::Server> server_;
  std::shared_ptr<HttpSession> session_;
};

TEST_F(HttpSessionTest, ReportsStatusAndHeadersOfTheFinalResponse) {
  auto request = Open(Url("small.txt"));
  ASSERT_TRUE(request);
  EXPECT_EQ(request->Status(), 200u);
  EXPECT_EQ(request->Header("QS-Content-Length"), std::to_string(small_.size()));
  EXPECT_EQ(request->Header("qs-content-length"), std::to_string(small_.size()));
  EXPECT_EQ(request->Header("Resumed-from"), std::nullopt);
  EXPECT_EQ(Drain(*request).bytes, small_);

  auto resumed = Open(Url("small.txt") + "&resumeAt=6");
  ASSERT_TRUE(resumed);
  EXPECT_EQ(resumed->Header("Resumed-from"), "6");
  EXPECT_EQ(Drain(*resumed).bytes, small_.substr(6));

  auto missing = Open(Url("absent.txt"));
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->Status(), 404u);
}

// What the answers do to the cookie store comes back once; what was handed in does not, unless
// an answer changes it.
TEST_F(HttpSessionTest, ReportsEachCookieThatAnAnswerSetsOrRemovesOnce) {
  const std::vector<HttpCookie> given = {{.name = "session", .value = "s1", .domain = "127.0.0.1"},
                                         {.name = "keep", .value = "k", .domain = "127.0.0.1"}};
  session_->AddCookies(given);
  EXPECT_TRUE(session_->TakeCookieChanges().empty());
  auto cookie_fault = [&](std::string header, uint32_t skip) {
    Fault f;
    f.set_cookie = std::move(header);
    server_->AddFault(std::move(f).Path("/download").Skip(skip).Times(1));
  };
  cookie_fault("ticket=t1; Path=/; HttpOnly", 0);
  cookie_fault("session=s2; Max-Age=3600", 1);
  cookie_fault("keep=; Max-Age=0", 1);

  auto first = Open(Url("small.txt"));
  ASSERT_TRUE(first);
  Drain(*first);
  auto changes = session_->TakeCookieChanges();
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_FALSE(changes[0].removed);
  EXPECT_EQ(changes[0].cookie.name, "ticket");
  EXPECT_EQ(changes[0].cookie.value, "t1");
  EXPECT_EQ(changes[0].cookie.domain, "127.0.0.1");
  EXPECT_TRUE(changes[0].cookie.host_only);
  EXPECT_TRUE(changes[0].cookie.http_only);
  EXPECT_EQ(changes[0].cookie.expires, 0);
  EXPECT_TRUE(session_->TakeCookieChanges().empty());

  auto second = Open(Url("small.txt"));
  ASSERT_TRUE(second);
  Drain(*second);
  changes = session_->TakeCookieChanges();
  ASSERT_EQ(changes.size(), 2u);
  std::sort(changes.begin(), changes.end(),
            [](const auto& a, const auto& b) { return a.cookie.name < b.cookie.name; });
  EXPECT_EQ(changes[0].cookie.name, "keep");
  EXPECT_TRUE(changes[0].removed);
  EXPECT_EQ(changes[1].cookie.name, "session");
  EXPECT_EQ(changes[1].cookie.value, "s2");
  EXPECT_GT(changes[1].cookie.expires, 0);
  EXPECT_FALSE(changes[1].removed);
  EXPECT_TRUE(session_->TakeCookieChanges().empty());
}

// Statuses whose head curl may go past (401, 407, 1xx, 3xx) become final with their body;
// the others at their blank line.
TEST_F(HttpSessionTest, AnyStatusWithItsBodyIsAnAnswer) {
  struct Case {
    int status;
    std::string body;
  } cases[] = {{401, "who are you"}, {202, "/download?file=small.txt"}, {204, ""}, {500, "oops"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    server_->ClearFaults();
    server_->AddFault(Fault::Status(c.status, c.body).Path("/download"));
    auto request = Open(Url("small.txt"));
    ASSERT_TRUE(request);
    EXPECT_EQ(request->Status(), static_cast<uint32_t>(c.status));
    Drained body = Drain(*request);
    EXPECT_EQ(body.error, 0u);
    EXPECT_EQ(body.bytes, c.body);
  }
}

TEST_F(HttpSessionTest, FollowsRedirectsOnlyAsTheCheckAllowsAndAtMostTenTimes) {
  server_->AddFault(Fault::Raw("HTTP/1.1 302 Found\r\nLocation: /download?file=small.txt\r\n"
                               "Content-Length: 0\r\n\r\n")
                        .Path("/old"));
  std::vector<std::pair<std::string, std::string>> asked;
  const RedirectCheck allow = [&](std::string_view from, std::string_view to) {
    asked.emplace_back(from, to);
    return true;
  };
  auto followed = session_->OpenUrl(server_->base_url() + "/old?x=1", allow);
  ASSERT_TRUE(followed.ok()) << followed.code();
  EXPECT_EQ((*followed)->Status(), 200u);
  EXPECT_EQ((*followed)->Header("Location"), std::nullopt);  // the redirect's head is gone
  EXPECT_EQ(Drain(**followed).bytes, small_);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {server_->base_url() + "/old?x=1", Url("small.txt")}};
  EXPECT_EQ(asked, expected);

  // Refused, or without a check: the redirect is the answer, and its target is never asked.
  server_->ClearRequests();
  for (const bool with_check : {true, false}) {
    server_->AddFault(Fault::Raw("HTTP/1.1 302 Found\r\nLocation: /download?file=small.txt\r\n"
                                 "Content-Length: 0\r\n\r\n")
                          .Path("/old"));
    auto refused = with_check
                       ? session_->OpenUrl(server_->base_url() + "/old",
                                           [](std::string_view, std::string_view) { return false; })
                       : session_->OpenUrl(server_->base_url() + "/old");
    ASSERT_TRUE(refused.ok()) << refused.code();
    EXPECT_EQ((*refused)->Status(), 302u);
    EXPECT_EQ((*refused)->Header("Location"), "/download?file=small.txt");
  }
  ASSERT_EQ(server_->requests().size(), 2u);
  EXPECT_EQ(server_->requests()[1].target, "/old");

  // A chain of redirects: ten are followed, the eleventh is the answer.
  server_->ClearRequests();
  server_->AddFault(Fault::Raw("HTTP/1.1 307 Again\r\nLocation: /loop\r\n"
                               "Content-Length: 0\r\n\r\n")
                        .Path("/loop")
                        .Times(Fault::kUnlimited));
  asked.clear();
  auto loop = session_->OpenUrl(server_->base_url() + "/loop", allow);
  ASSERT_TRUE(loop.ok()) << loop.code();
  EXPECT_EQ((*loop)->Status(), 307u);
  EXPECT_EQ(asked.size(), kMaxRedirects);
  EXPECT_EQ(server_->requests().size(), kMaxRedirects + 1);
}

TEST_F(HttpSessionTest, SmallReadsOfALargeBodyGiveTheExactBytes) {
  auto request = Open(Url("big.bin"));
  ASSERT_TRUE(request);
  Drained body = Drain(*request);
  EXPECT_EQ(body.error, 0u);
  EXPECT_EQ(body.largest_piece, kPiece);
  EXPECT_TRUE(body.bytes == big_) << "got " << body.bytes.size() << " bytes";
}

// The download stops reading once it has the announced length, without the final empty
// read; the connection must still be kept for the next request.
TEST_F(HttpSessionTest, KeepsTheConnectionAliveBetweenRequests) {
  for (int i = 0; i < 3; ++i) {
    auto request = Open(Url(i == 1 ? "big.bin" : "small.txt"));
    ASSERT_TRUE(request);
    if (i == 1) {
      std::vector<std::byte> buffer(kPiece);
      size_t received = 0;
      while (received < big_.size()) {
        auto n = request->Read(buffer);
        ASSERT_TRUE(n.ok() && *n > 0);
        received += *n;
      }
    } else {
      Drain(*request);
    }
  }
  auto log = server_->requests();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].connection_id, log[1].connection_id);
  EXPECT_EQ(log[1].connection_id, log[2].connection_id);
}

// A request dropped in mid-body leaves its connection unusable: the next request must not
// read the rest of the old body as its own.
TEST_F(HttpSessionTest, AnAbandonedBodyIsNotMistakenForTheNextAnswer) {
  {
    auto request = Open(Url("big.bin"));
    ASSERT_TRUE(request);
    std::vector<std::byte> buffer(kPiece);
    ASSERT_TRUE(request->Read(buffer).ok());
  }
  auto next = Open(Url("small.txt"));
  ASSERT_TRUE(next);
  EXPECT_EQ(Drain(*next).bytes, small_);
  auto log = server_->requests();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_NE(log[0].connection_id, log[1].connection_id);
}

TEST_F(HttpSessionTest, TwoThreadsShareOneSessionOpenedOnce) {
  uint64_t opened_before = HttpSession::OpenCountForTesting();
  auto fetch = [this] {
    auto request = session_->OpenUrl(Url("big.bin"));
    if (!request) {
      Drained failed;
      failed.error = request.code();
      return failed;
    }
    return Drain(*request.value());
  };
  auto first = std::async(std::launch::async, fetch);
  auto second = std::async(std::launch::async, fetch);
  Drained a = first.get();
  Drained b = second.get();
  EXPECT_EQ(a.error, 0u);
  EXPECT_EQ(b.error, 0u);
  EXPECT_TRUE(a.bytes == big_);
  EXPECT_TRUE(b.bytes == big_);
  EXPECT_EQ(HttpSession::OpenCountForTesting(), opened_before);
}

TEST_F(HttpSessionTest, ABreakInMidBodyFailsTheReadWithAConnectionCode) {
  server_->AddFault(Fault::BreakAfter(100'000).Path("/download"));
  auto request = Open(Url("big.bin"));
  ASSERT_TRUE(request);
  Drained body = Drain(*request);
  EXPECT_TRUE(body.error == ToUint(ErrorCode::kInternetConnectionAborted) ||
              body.error == ToUint(ErrorCode::kInternetConnectionReset))
      << body.error;
  EXPECT_EQ(LastError(), body.error);
  EXPECT_EQ(body.bytes, big_.substr(0, 100'000));
  // The failure stays: a later read reports it again rather than an end of body.
  std::vector<std::byte> buffer(kPiece);
  EXPECT_EQ(request->Read(buffer).code(), body.error);
}

TEST_F(HttpSessionTest, AStallPastTheReceiveTimeOutFails) {
  session_->SetTimeoutsForTesting(5000, 5000, 300);
  server_->AddFault(Fault::StallAfter(50'000).Path("/download").Query("file=big"));
  server_->AddFault(Fault::StallBeforeHead().Path("/download").Query("file=small"));

  auto request = Open(Url("big.bin"));
  ASSERT_TRUE(request);
  Drained body = Drain(*request);
  EXPECT_EQ(body.error, ToUint(ErrorCode::kInternetTimeout));
  EXPECT_EQ(body.bytes, big_.substr(0, 50'000));

  auto head = session_->OpenUrl(Url("small.txt"));
  EXPECT_EQ(head.code(), ToUint(ErrorCode::kInternetTimeout));
  EXPECT_EQ(LastError(), ToUint(ErrorCode::kInternetTimeout));
}

// A refusal is told to a person who asks (-v) also when the caller closes it before its body
// has come in, as on a loaded machine: the head and the first bytes are all the caller needs.
TEST_F(HttpSessionTest, ARefusalClosedBeforeItsEndIsStillTold) {
  std::mutex mutex;
  std::vector<std::string> notices;
  SetHttpTraceSink(
      [&](HttpTraceLevel level, std::string_view line) {
        std::lock_guard lock(mutex);
        if (level == HttpTraceLevel::kNotice) notices.emplace_back(line);
      },
      false);
  server_->AddFault(
      Fault::Challenge(devserver::AuthScheme::kBasic, "alice", "pw").Path("/download"));
  server_->AddFault(Fault::StallAfter(1).Path("/download"));
  {
    auto request = Open(Url("small.txt"));
    ASSERT_TRUE(request);
    EXPECT_EQ(request->Status(), 401u);
  }
  SetHttpTraceSink({}, false);
  std::lock_guard lock(mutex);
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_NE(notices[0].find("wants credentials (it offers Basic)"), std::string::npos)
      << notices[0];
}

TEST_F(HttpSessionTest, AnUnreadableHeadFailsTheOpenAsAnInvalidHeader) {
  struct Case {
    const char* name;
    Fault fault;
  } cases[] = {
      {"header line without a colon", Fault::MalformedHeader()},
      {"one header line of 150 KB", Fault::LongHeader(150'000)},
      {"one header line of 400 KB", Fault::LongHeader(400'000)},
      {"status line that is not HTTP", Fault::Raw("HELLO THERE\r\n\r\nbody")},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    server_->ClearFaults();
    server_->AddFault(std::move(c.fault).Path("/download"));
    auto request = session_->OpenUrl(Url("small.txt"));
    EXPECT_EQ(request.code(), ToUint(ErrorCode::kHttpInvalidHeader));
    EXPECT_EQ(LastError(), ToUint(ErrorCode::kHttpInvalidHeader));
  }
}

TEST_F(HttpSessionTest, ConnectionFailuresHaveTheirCodes) {
  devserver::Server gone(ServerOptions());
  ASSERT_TRUE(gone.Start());
  std::string refused = gone.base_url() + "/download?file=small.txt";
  gone.Stop();

  struct Case {
    std::string url;
    ErrorCode code;
  } cases[] = {
      {refused, ErrorCode::kInternetCannotConnect},
      {"ftp://127.0.0.1/x", ErrorCode::kInternetUnrecognizedScheme},
      {"/download?file=small.txt", ErrorCode::kInternetInvalidUrl},
      {"http://", ErrorCode::kInternetInvalidUrl},
      {std::string("http://127.0.0.1/\0x", 19), ErrorCode::kInternetInvalidUrl},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    auto request = session_->OpenUrl(c.url);
    EXPECT_EQ(request.code(), ToUint(c.code));
    EXPECT_EQ(LastError(), ToUint(c.code));
  }
}

TEST_F(HttpSessionTest, CloseWakesAReadBlockedOnAnotherThread) {
  // Without the wake-up the read would only return when the stall ends, with data.
  server_->AddFault(Fault::StallAfter(kPiece, 30s).Path("/download"));
  auto request = Open(Url("big.bin"));
  ASSERT_TRUE(request);
  std::promise<void> first_piece_read;
  auto reader = std::async(std::launch::async, [&] {
    std::vector<std::byte> buffer(kPiece);
    auto first = request->Read(buffer);
    first_piece_read.set_value();
    if (!first) return first.code();
    auto blocked = request->Read(buffer);  // the server has nothing more: this blocks
    return blocked.code();
  });
  first_piece_read.get_future().wait();
  session_->Close();
  EXPECT_EQ(reader.get(), ToUint(ErrorCode::kInternetOperationCancelled));
}

TEST_F(HttpSessionTest, AClosedSessionRefusesNewRequestsAndAbortsOpenOnes) {
  auto open = Open(Url("big.bin"));
  ASSERT_TRUE(open);
  session_->Close();
  session_->Close();  // idempotent
  EXPECT_TRUE(session_->IsClosed());

  auto refused = session_->OpenUrl(Url("small.txt"));
  EXPECT_EQ(refused.code(), ToUint(ErrorCode::kInternetOperationCancelled));
  EXPECT_EQ(LastError(), ToUint(ErrorCode::kInternetOperationCancelled));
  // The request opened before stays usable as an object and reports the close.
  EXPECT_EQ(Drain(*open).error, ToUint(ErrorCode::kInternetOperationCancelled));

  // It also outlives the session object itself.
  session_.reset();
  std::vector<std::byte> buffer(kPiece);
  EXPECT_EQ(open->Read(buffer).code(), ToUint(ErrorCode::kInternetOperationCancelled));
  session_ = HttpSession::Open({}).value();  // for TearDown
}

struct Outcome {
  explicit Outcome(int curl_code) { value.curl_code = curl_code; }
  Outcome& Final() {
    value.head_final = true;
    return *this;
  }
  Outcome& Errno(int err) {
    value.os_errno = err;
    return *this;
  }
  Outcome& AfterRedirect() {
    value.after_redirect = true;
    return *this;
  }
  Outcome& Aborted(HttpAbort why) {
    value.abort = why;
    return *this;
  }
  Outcome& Text(std::string_view text) {
    value.error_text = text;
    return *this;
  }
  CurlOutcome value;
};

// The outcome rules on their own, where the server cannot easily produce the case.
TEST(HttpCurlOutcomeTest, MapsResultsOntoPlatformCodes) {
  struct Case {
    Outcome outcome;
    ErrorCode expected;
  } cases[] = {
      {Outcome(0), ErrorCode::kSuccess},
      {Outcome(7), ErrorCode::kInternetCannotConnect},
      {Outcome(6), ErrorCode::kInternetNameNotResolved},
      {Outcome(28), ErrorCode::kInternetTimeout},
      {Outcome(18).Final(), ErrorCode::kInternetConnectionAborted},
      {Outcome(56).Final().Errno(ECONNRESET), ErrorCode::kInternetConnectionReset},
      {Outcome(52), ErrorCode::kInternetConnectionAborted},
      // Head faults read as invalid headers (the download retries on those); body faults not.
      {Outcome(8), ErrorCode::kHttpInvalidHeader},
      {Outcome(8).Final(), ErrorCode::kHttpInvalidServerResponse},
      {Outcome(1), ErrorCode::kHttpInvalidHeader},
      {Outcome(1).AfterRedirect(), ErrorCode::kHttpRedirectFailed},
      {Outcome(27), ErrorCode::kHttpInvalidHeader},
      {Outcome(56).Text("Too large response headers: 307200 > 307200"),
       ErrorCode::kHttpInvalidHeader},
      {Outcome(60).Text("SSL certificate problem: self-signed certificate"),
       ErrorCode::kInternetInvalidCa},
      {Outcome(60).Text("SSL: no alternative certificate subject name matches"),
       ErrorCode::kInternetSecCertCnInvalid},
      {Outcome(35), ErrorCode::kInternetSecurityChannelError},
      // Our own aborts decide over what curl made of them.
      {Outcome(42).Aborted(HttpAbort::kTimedOut), ErrorCode::kInternetTimeout},
      {Outcome(42).Aborted(HttpAbort::kClosed), ErrorCode::kInternetOperationCancelled},
      {Outcome(23).Aborted(HttpAbort::kHeadTooLarge), ErrorCode::kHttpInvalidHeader},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.outcome.value.curl_code);
    EXPECT_EQ(ToUint(MapCurlOutcome(c.outcome.value)), ToUint(c.expected));
  }
}

}  // namespace
}  // namespace qs::platform
