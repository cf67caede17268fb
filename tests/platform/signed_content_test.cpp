// Signing and checking signed content against a test CA trusted through SSL_CERT_FILE.
#include "platform/signed_content.h"

#include <gtest/gtest.h>

#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "support/test_ca.h"

namespace qs::platform {
namespace {

using qs::testing::ScopedEnv;

class SignedContentTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(ca_.ok()) << "openssl could not make the test CA"; }

  std::string Sign(const SigningFiles& files, std::string_view content = "the content") {
    std::string problem;
    std::string der = SignContent(content, files, problem);
    EXPECT_FALSE(der.empty()) << problem;
    return der;
  }

  qs::testing::TempDir dir_;
  qs::testing::TestCa ca_{dir_.path()};
  ScopedEnv trust_{"SSL_CERT_FILE", ca_.trust_store().string()};
  ScopedEnv no_dir_{"SSL_CERT_DIR", dir_.path().string()};  // no system roots in the way
};

TEST_F(SignedContentTest, ACodeSignerUnderATrustedRootIsTrusted) {
  const SignedContentCheck check = CheckSignedContent(Sign(ca_.code_signer()));
  EXPECT_TRUE(check.trusted) << check.problem;
  EXPECT_EQ(check.content, "the content");
  EXPECT_EQ(check.signer_subject, "CN=signer,O=Tests");
}

TEST_F(SignedContentTest, EveryChangedByteIsCaughtOrUnreadable) {
  const std::string der = Sign(ca_.code_signer(), std::string(64, 'c'));
  // Every 7th byte, and every byte of the content itself.
  const size_t content_at = der.find(std::string(64, 'c'));
  ASSERT_NE(content_at, std::string::npos);
  for (size_t i = 0; i < der.size(); ++i) {
    if (i % 7 != 0 && (i < content_at || i >= content_at + 64)) continue;
    std::string changed = der;
    changed[i] = static_cast<char>(changed[i] ^ 0x01);
    const SignedContentCheck check = CheckSignedContent(changed);
    EXPECT_FALSE(check.trusted && check.content != std::string(64, 'c')) << i;
    if (i >= content_at && i < content_at + 64) {
      EXPECT_FALSE(check.signature_valid) << i;
    }
  }
}

TEST_F(SignedContentTest, UntrustedRootsAndOtherUsesAreRefusedWithTheirReason) {
  const SignedContentCheck rogue = CheckSignedContent(Sign(ca_.untrusted_signer()));
  EXPECT_TRUE(rogue.signature_valid);
  EXPECT_FALSE(rogue.trusted);
  EXPECT_NE(rogue.problem.find("does not chain to a trusted root"), std::string::npos)
      << rogue.problem;

  const SignedContentCheck server = CheckSignedContent(Sign(ca_.server_only_signer()));
  EXPECT_TRUE(server.signature_valid);
  EXPECT_FALSE(server.trusted);
  EXPECT_NE(server.problem.find("code signing"), std::string::npos) << server.problem;

  // The same good file once the root is no longer trusted.
  const std::string good = Sign(ca_.code_signer());
  ScopedEnv other_root("SSL_CERT_FILE", (dir_ / "rogue.pem").string());
  EXPECT_FALSE(CheckSignedContent(good).trusted);
}

TEST_F(SignedContentTest, GarbageIsUnreadable) {
  for (std::string_view bytes : {std::string_view(), std::string_view("not DER at all"),
                                 std::string_view("\x30\x80\x06\x09", 4)}) {
    const SignedContentCheck check = CheckSignedContent(bytes);
    EXPECT_FALSE(check.readable);
    EXPECT_FALSE(check.trusted);
  }
}

TEST_F(SignedContentTest, SigningWithAKeyOfAnotherCertificateFails) {
  std::string problem;
  EXPECT_TRUE(
      SignContent("x", {(dir_ / "rogue.key").string(), (dir_ / "signer.pem").string(), ""}, problem)
          .empty());
  EXPECT_NE(problem.find("does not belong"), std::string::npos) << problem;
}

}  // namespace
}  // namespace qs::platform
