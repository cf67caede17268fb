#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "upload_fixture.h"

namespace qs::testing {
namespace {

using devserver::AuthRealm;
using devserver::AuthScheme;
using devserver::Fault;

bool HasHeader(const devserver::RequestRecord& r, const std::string& name) {
  for (const auto& [key, value] : r.headers) {
    if (key.size() == name.size() &&
        std::equal(key.begin(), key.end(), name.begin(),
                   [](char a, char b) { return std::tolower(a) == std::tolower(b); })) {
      return true;
    }
  }
  return false;
}

std::string UrlWithLogin(const std::string& base, const std::string& login,
                         const std::string& path) {
  return "http://" + login + "@" + base.substr(std::string("http://").size()) + path;
}

class UploadAuthTest : public UploadTest, public ::testing::WithParamInterface<AuthScheme> {};

// With the right credentials in the URL, every chunk arrives once authorised; the body is sent
// again only for the first challenge, and later chunks carry their credentials at once.
TEST_P(UploadAuthTest, RightCredentialsFromTheUrl) {
  server_->AddFault(Fault::Challenge(GetParam(), "ann", "s3cret").Times(Fault::kUnlimited));
  const std::string bytes = Pattern(10000);
  const auto path = Local("a.bin", bytes);
  auto upload = Make(UrlWithLogin(server_->base_url(), "ann:s3cret", "/up"), path, 4096);
  EXPECT_EQ(upload->RunHere(), TransferState::kDone);
  EXPECT_EQ(ToUtf8(upload->StatusText()), "10|10000|OK 10000");
  EXPECT_EQ(ReadFile(root_ / "a.bin"), bytes);
  EXPECT_TRUE(dialogs_.Shown().empty());
  const auto statuses = Statuses();
  EXPECT_EQ(statuses, (std::vector<int>{401, 200, 200, 200}));
  const auto requests = server_->requests();
  for (size_t i = 1; i < requests.size(); ++i) {
    EXPECT_TRUE(HasHeader(requests[i], "Authorization")) << i;
  }
  const auto ids = ConnectionIds();
  EXPECT_EQ(std::set<uint64_t>(ids.begin(), ids.end()).size(), 1u);
}

// Wrong credentials: two silent repeats, then the prompt; cancelling it ends the upload.
TEST_P(UploadAuthTest, ThePromptAppearsFromTheThirdChallengeAndCancelEndsTheUpload) {
  server_->AddFault(Fault::Challenge(GetParam(), "ann", "s3cret").Times(Fault::kUnlimited));
  const auto path = Local("w.bin", Pattern(5000));
  auto upload = Make(UrlWithLogin(server_->base_url(), "ann:wrong", "/up"), path, 4096);
  dialogs_.Queue(platform::scripted::Cancel{});
  EXPECT_EQ(upload->RunHere(), TransferState::kFailed);
  EXPECT_EQ(ToUtf8(upload->StatusText()), "-1|0|Cancelled");
  // Three challenged attempts, each with the whole chunk. (With Digest curl has already sent
  // the head of a fourth when the prompt comes; that one stays unanswered.)
  std::vector<std::pair<int, uint64_t>> answered;
  for (const auto& entry : SettledLog()) {
    if (entry.status != 0) answered.emplace_back(entry.status, entry.request.body_size);
  }
  EXPECT_EQ(answered, (std::vector<std::pair<int, uint64_t>>(3, {401, 4096})));
  const auto shown = dialogs_.Shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].kind, platform::DialogKind::kCredentials);
  EXPECT_EQ(ToUtf8(shown[0].title), server_->base_url().substr(7));
  EXPECT_EQ(ToUtf8(shown[0].text), "qsft-devserver");
  EXPECT_EQ(ToUtf8(shown[0].user), "ann");
  EXPECT_FALSE(std::filesystem::exists(root_ / "w.bin"));
}

// Credentials given in the prompt are used for the repeat and for every later chunk.
TEST_P(UploadAuthTest, CredentialsFromThePromptCarryTheUploadThrough) {
  server_->AddFault(Fault::Challenge(GetParam(), "ann", "s3cret").Times(Fault::kUnlimited));
  const std::string bytes = Pattern(10000);
  const auto path = Local("p.bin", bytes);
  auto upload = Make(UrlWithLogin(server_->base_url(), "ann:wrong", "/up"), path, 4096);
  dialogs_.Queue(platform::scripted::Login{{u"ann", u"s3cret"}});
  EXPECT_EQ(upload->RunHere(), TransferState::kDone);
  EXPECT_EQ(ToUtf8(upload->StatusText()), "10|10000|OK 10000");
  EXPECT_EQ(ReadFile(root_ / "p.bin"), bytes);
  EXPECT_EQ(dialogs_.Shown().size(), 1u);
  // Answered requests only: a repeat that curl had already sent with the old credentials is
  // abandoned unanswered (status 0) when the new ones arrive.
  std::vector<int> answered;
  for (int status : Statuses()) {
    if (status != 0) answered.push_back(status);
  }
  EXPECT_EQ(answered, (std::vector<int>{401, 401, 401, 200, 200, 200}));
}

INSTANTIATE_TEST_SUITE_P(Schemes, UploadAuthTest,
                         ::testing::Values(AuthScheme::kBasic, AuthScheme::kDigest),
                         [](const ::testing::TestParamInfo<AuthScheme>& scheme) {
                           return scheme.param == AuthScheme::kBasic ? "Basic" : "Digest";
                         });

// Without credentials a challenge is an answer like any other: its body is the failure text.
TEST_F(UploadTest, AChallengeWithoutCredentialsFailsWithItsAnswer) {
  server_->AddFault(Fault::Challenge(AuthScheme::kBasic, "ann", "s3cret").Times(Fault::kUnlimited));
  auto upload = Make(Url("/up"), Local("n.bin", Pattern(100)), 4096);
  EXPECT_EQ(upload->RunHere(), TransferState::kFailed);
  EXPECT_TRUE(dialogs_.Shown().empty());
  EXPECT_EQ(Statuses(), std::vector<int>{401});
}

}  // namespace
}  // namespace qs::testing
