// Which pages may script the control, as a browser negotiates it through `qsft host`'s "safety"
// op, with the administrator's policy imported by `qsft reg import`; creating the control by its
// class names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/store_fixture.h"
#include "qsft/host_session.h"
#include "qsft/reg_store_command.h"

namespace qs::app {
namespace {

constexpr char kSiteLockKey[] =
    "[HKEY_CURRENT_USER\\SOFTWARE\\Policies\\Tarnholt\\Quillstone Web Client\\SiteLock]\n";
constexpr char kZoneLockKey[] =
    "[HKEY_CURRENT_USER\\SOFTWARE\\Policies\\Tarnholt\\Quillstone Web Client\\ZoneLock]\n";

constexpr char kGetOk[] = R"({"hr":0,"supported":3,"enabled":3})";
constexpr char kGetRefused[] = R"({"hr":0,"supported":3,"enabled":0})";
constexpr char kOk[] = R"({"hr":0})";
constexpr char kFail[] = R"({"hr":-2147467259})";

class HostTrustTest : public testing::StoreTest {
 protected:
  HostTrustTest() : session_(options_, diag_) {}

  // Imports registry-file lines (after the header) with `qsft reg import`.
  void Import(const std::string& body) {
    const auto file = dir_.path() / "policy.reg";
    testing::WriteFile(file, "Windows Registry Editor Version 5.00\n\n" + body);
    std::string err;
    const std::vector<std::string> args{"import", file.string()};
    ASSERT_EQ(RunRegCommand(
                  args, [](std::string_view) { return true; }, err),
              0)
        << err;
  }
  // The site list, entries in order (numbered from 1).
  void SiteList(const std::vector<std::string>& entries) {
    std::string body = kSiteLockKey;
    for (size_t i = 0; i < entries.size(); ++i) {
      body += "\"" + std::to_string(i + 1) + "\"=\"" + entries[i] + "\"\n";
    }
    Import(body);
  }

  // The result member of an answer, as JSON text (or the whole answer when it has none).
  std::string Result(const std::string& request) {
    const std::string answer = session_.Answer(request);
    const std::string head = R"({"id":null,"result":)";
    if (answer.rfind(head, 0) != 0) return answer;
    return answer.substr(head.size(), answer.size() - head.size() - 1);
  }
  std::string Create(const std::string& name, const std::string& page, int zone,
                     const std::string& extra = {}) {
    return Result(R"({"op":"create","control":")" + name + R"(","page":")" + page + R"(","zone":)" +
                  std::to_string(zone) + extra + "}");
  }
  std::string Get(const std::string& name, const std::string& iid = "IDispatch") {
    return Result(R"({"op":"safety","control":")" + name + R"(","iid":")" + iid + R"("})");
  }
  std::string Set(const std::string& name, uint64_t mask, uint64_t options,
                  const std::string& iid = "IDispatch") {
    return Result(R"({"op":"safety","control":")" + name + R"(","iid":")" + iid +
                  R"(","set":{"mask":)" + std::to_string(mask) + R"(,"options":)" +
                  std::to_string(options) + "}}");
  }
  // Whether a fresh control on `page` in `zone` is let switch both options on.
  bool Allowed(const std::string& page, int zone = 3) {
    const std::string name = "c" + std::to_string(++count_);
    if (Create(name, page, zone) != "null") return false;
    const std::string set = Set(name, 3, 3);
    EXPECT_EQ(Get(name), set == kOk ? kGetOk : kGetRefused) << page;
    return set == kOk;
  }

  HostOptions options_;
  std::ostringstream diag_;
  HostSession session_;
  int count_ = 0;
};

TEST_F(HostTrustTest, WithoutPolicyOnlyWebPagesOfTheTrustedZonePass) {
  EXPECT_TRUE(Allowed("https://dms.example.test/app", 2));
  EXPECT_TRUE(Allowed("http://dms.example.test:8080/app", 2));
  EXPECT_FALSE(Allowed("https://dms.example.test/app", 3));
  EXPECT_FALSE(Allowed("ftp://dms.example.test/app", 2));
  EXPECT_FALSE(Allowed("file:///home/u/page.html", 2));
  // A user name or password in the address is refused even in the trusted zone.
  EXPECT_FALSE(Allowed("https://u@dms.example.test/app", 2));
  EXPECT_FALSE(Allowed("https://u:p@dms.example.test/app", 2));
}

TEST_F(HostTrustTest, TrustedZoneDisabledWithAnEmptyListRefusesEveryPage) {
  Import(std::string(kZoneLockKey) + "\"TrustedZoneDisabled\"=dword:00000001\n");
  EXPECT_FALSE(Allowed("https://dms.example.test/app", 2));
  EXPECT_FALSE(Allowed("http://dms.example.test/app", 2));
  // Any other value leaves the zone rules on.
  Import(std::string(kZoneLockKey) + "\"TrustedZoneDisabled\"=dword:00000002\n");
  EXPECT_TRUE(Allowed("https://dms.example.test/app", 2));
}

TEST_F(HostTrustTest, SiteListEntriesAllowTheirHostsOnly) {
  SiteList(
      {"intranet.example", "*.docs.example", "https://secure.example", "https://Mixed.Example"});
  // A bare host: both schemes, any port, never its sub-domains or look-alikes.
  EXPECT_TRUE(Allowed("http://intranet.example/app"));
  EXPECT_TRUE(Allowed("https://intranet.example:8443/app"));
  EXPECT_FALSE(Allowed("https://sub.intranet.example/app"));
  EXPECT_FALSE(Allowed("https://intranet.example.evil.test/app"));
  // A "*." pattern: the domain and everything below it, not a host that merely ends alike.
  EXPECT_TRUE(Allowed("https://docs.example/app"));
  EXPECT_TRUE(Allowed("https://a.b.docs.example/app"));
  EXPECT_FALSE(Allowed("https://evildocs.example/app"));
  EXPECT_FALSE(Allowed("https://docs.example.evil.test/app"));
  // A scheme-bound entry: that scheme only.
  EXPECT_TRUE(Allowed("https://secure.example/app"));
  EXPECT_FALSE(Allowed("http://secure.example/app"));
  // Hosts are compared letter for letter.
  EXPECT_FALSE(Allowed("https://mixed.example/app"));
  EXPECT_FALSE(Allowed("https://INTRANET.example/app"));
  // An allowed host with a user name in the page address.
  EXPECT_FALSE(Allowed("https://user@intranet.example/app"));
  // Other pages stay refused outside the trusted zone.
  EXPECT_FALSE(Allowed("https://other.example/app"));
}

TEST_F(HostTrustTest, TheListEndsAtTheFirstGapAndOverlongEntriesAreSkipped) {
  const std::string long_host(300, 'a');
  Import(std::string(kSiteLockKey) + "\"1\"=\"" + long_host + ".example\"\n" + "\"2\"=\"https://" +
         std::string(40, 's') + "://x\"\n" + "\"3\"=\"one.example\"\n" +
         "\"5\"=\"five.example\"\n");
  EXPECT_TRUE(Allowed("https://one.example/"));
  EXPECT_FALSE(Allowed("https://five.example/"));
  EXPECT_FALSE(Allowed("https://" + long_host.substr(0, 63) + ".example/"));
}

TEST_F(HostTrustTest, InternationalHostsMatchInTheirAsciiForm) {
  SiteList({"bücher.example", "*.straße.example"});
  EXPECT_TRUE(Allowed("https://bücher.example/"));
  EXPECT_TRUE(Allowed("https://xn--bcher-kva.example/"));
  EXPECT_TRUE(Allowed("https://a.xn--strae-oqa.example/"));
  EXPECT_TRUE(Allowed("https://a.straße.example/"));
  EXPECT_FALSE(Allowed("https://xn--bcher-kva.example.test/"));
}

TEST_F(HostTrustTest, OptionChangesFollowTheNegotiationRules) {
  SiteList({"allowed.example"});
  ASSERT_EQ(Create("no", "https://refused.example/", 3), "null");
  ASSERT_EQ(Create("yes", "https://allowed.example/", 3), "null");

  // A mask of 0, or exactly the options in force, succeeds without a check, even when refused.
  EXPECT_EQ(Set("no", 0, 3), kOk);
  EXPECT_EQ(Set("no", 3, 0), kOk);
  EXPECT_EQ(Set("no", 1, 1), kFail);
  // A mask of 4 or more is refused even for an allowed page.
  EXPECT_EQ(Set("yes", 4, 0), kFail);
  EXPECT_EQ(Set("yes", 4294967295, 3), kFail);
  EXPECT_EQ(Get("yes"), R"({"hr":0,"supported":3,"enabled":0})");
  // Only the bits of the mask change; options outside the supported two are dropped.
  EXPECT_EQ(Set("yes", 1, 4294967295), kOk);
  EXPECT_EQ(Get("yes"), R"({"hr":0,"supported":3,"enabled":1})");
  EXPECT_EQ(Set("yes", 2, 2), kOk);

  // One set of options for every interface: asking again elsewhere needs no new check, while
  // the report follows the policy of the moment (nothing is cached).
  Import(
      std::string("[-HKEY_CURRENT_USER\\SOFTWARE\\Policies\\Tarnholt\\Quillstone Web "
                  "Client\\SiteLock]\n"));
  EXPECT_EQ(Set("yes", 3, 3, "IObjectSafety"), kOk);
  EXPECT_EQ(Set("yes", 3, 3, "{37D84F60-42CB-11CE-8135-00AA004BB851}"), kOk);
  EXPECT_EQ(Get("yes", "IObjectSafetySiteLock"), kGetRefused);
  EXPECT_EQ(Set("yes", 3, 1), kFail);

  // An interface the control does not offer: its failure, both outputs zero.
  EXPECT_EQ(Get("yes", "{00000000-0000-0000-0000-000000000001}"),
            R"({"hr":-2147467262,"supported":0,"enabled":0})");
  EXPECT_EQ(Set("yes", 0, 0, "{00000000-0000-0000-0000-000000000001}"), R"({"hr":-2147467262})");
  EXPECT_EQ(Get("yes", "IUnknown"), kGetRefused);
}

TEST_F(HostTrustTest, SafeCreateKeepsOnlyControlsThePolicyAllows) {
  SiteList({"allowed.example"});
  EXPECT_EQ(Create("a", "https://allowed.example/app", 3, R"(,"safe":true)"), "null");
  EXPECT_EQ(Get("a"), kGetOk);
  const std::string refused = Create("b", "https://other.example/app", 3, R"(,"safe":true)");
  EXPECT_NE(refused.find(R"("error":{"code":-2147467259,"message":"the page is not allowed)"),
            std::string::npos)
      << refused;
  // Not kept: the name is free and no control answers to it.
  EXPECT_NE(Get("b").find("no control named"), std::string::npos);
  EXPECT_EQ(Create("b", "https://other.example/app", 3), "null");
}

TEST_F(HostTrustTest, CreateFindsTheControlByClassIdOrProgrammaticNameInAnyCase) {
  const std::string page = "https://dms.example.test/";
  EXPECT_EQ(Create("a", page, 2, R"(,"class":"{4E7A1C52-0B3D-4F19-A6E8-2C9D71B05F34}")"), "null");
  EXPECT_EQ(Create("b", page, 2, R"(,"class":"4e7a1c52-0b3d-4f19-a6e8-2c9d71b05f34")"), "null");
  EXPECT_EQ(Create("c", page, 2, R"(,"class":"qsfiletransfer.qswebfiletransferctrl.2.2")"), "null");
  EXPECT_EQ(Create("d", page, 2, R"(,"class":"QSFILETRANSFER.QSWebFileTransferCtrl.2.2")"), "null");
  // The property page is known but no scriptable object; anything else is no class at all.
  for (const char* page_class :
       {"QSFILETRANSFER.QSWebFileTransferPropPage.2", "{a1c94f07-5d2e-4b8a-9f31-e06b2d8c47a9}"}) {
    EXPECT_NE(Create("e", page, 2, R"(,"class":")" + std::string(page_class) + "\"")
                  .find(R"("code":-2147467262)"),
              std::string::npos);
  }
  for (const char* unknown : {"QSFILETRANSFER.QSWebFileTransferCtrl.2", "Shell.Application",
                              "{4E7A1C52-0B3D-4F19-A6E8-2C9D71B05F35}", ""}) {
    EXPECT_NE(Create("e", page, 2, R"(,"class":")" + std::string(unknown) + "\"")
                  .find(R"("code":-2147221231)"),
              std::string::npos)
        << unknown;
  }
  EXPECT_NE(Get("e").find("no control named"), std::string::npos);
}

}  // namespace
}  // namespace qs::app
