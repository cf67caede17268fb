#include "trust/trusted_sites.h"

#include <gtest/gtest.h>

#include "config/reg_values.h"
#include "config/store_fixture.h"
#include "config/store_layout.h"
#include "platform/settings_store.h"

namespace qs {
namespace {

TEST(SitePattern, FollowsTheSiteLockRules) {
  // A bare host: http and https, any port, not its sub-domains.
  EXPECT_TRUE(SitePatternMatches(u"dms.example", u"http://dms.example:8080/a"));
  EXPECT_TRUE(SitePatternMatches(u"dms.example", u"https://dms.example/"));
  EXPECT_FALSE(SitePatternMatches(u"dms.example", u"https://x.dms.example/"));
  // "*." covers the suffix itself and hosts below it, never a look-alike.
  EXPECT_TRUE(SitePatternMatches(u"*.example", u"https://example/"));
  EXPECT_TRUE(SitePatternMatches(u"*.example", u"https://a.b.example/"));
  EXPECT_FALSE(SitePatternMatches(u"*.example", u"https://evilexample/"));
  // A scheme binds.
  EXPECT_TRUE(SitePatternMatches(u"https://dms.example", u"https://dms.example/x"));
  EXPECT_FALSE(SitePatternMatches(u"https://dms.example", u"http://dms.example/x"));
  // Pages that never pass: other schemes, user names, no host.
  EXPECT_FALSE(SitePatternMatches(u"dms.example", u"ftp://dms.example/"));
  EXPECT_FALSE(SitePatternMatches(u"dms.example", u"https://u:p@dms.example/"));
  EXPECT_FALSE(SitePatternMatches(u"dms.example", u"file:///etc/passwd"));
  EXPECT_FALSE(SitePatternMatches(u"", u"https://dms.example/"));
  // Hosts compare in ASCII form.
  EXPECT_TRUE(SitePatternMatches(u"b\u00FCcher.example", u"https://xn--bcher-kva.example/"));
  // Over-long entries match nothing.
  EXPECT_FALSE(
      SitePatternMatches(std::u16string(300, u'a'), u"https://" + std::u16string(300, u'a')));
}

class TrustedSitesTest : public testing::StoreTest {};

TEST_F(TrustedSitesTest, ZoneFromPolicyAndUserEntries) {
  EXPECT_EQ(ZoneOfPage(u"https://dms.example/"), kInternetZone);

  ASSERT_TRUE(AddUserTrustedSite(u"dms.example").ok());
  ASSERT_TRUE(AddUserTrustedSite(u"DMS.example").ok());  // already there
  EXPECT_EQ(ReadUserTrustedSites(), std::vector<std::u16string>{u"dms.example"});
  EXPECT_EQ(ZoneOfPage(u"https://dms.example/"), kTrustedSitesZone);
  EXPECT_EQ(ZoneOfPage(u"https://other.example/"), kInternetZone);
  EXPECT_EQ(AddUserTrustedSite(u"").code(), 87u);
  EXPECT_EQ(AddUserTrustedSite(u"\u00FC-.example").code(), 87u);  // no ASCII form

  auto policy = platform::SettingsKey::Create(PolicyKeyPath(kTrustedSites));
  ASSERT_TRUE(policy.ok());
  ASSERT_TRUE(policy->Set(u"1", platform::kRegSz, SzData(u"*.corp.example")).ok());
  ASSERT_TRUE(policy->Set(u"3", platform::kRegSz, SzData(u"after.gap")).ok());  // gap ends the list
  EXPECT_EQ(ZoneOfPage(u"http://files.corp.example:81/"), kTrustedSitesZone);
  EXPECT_EQ(ZoneOfPage(u"https://after.gap/"), kInternetZone);
}

TEST_F(TrustedSitesTest, RemoveKeepsTheNumberingWithoutGaps) {
  for (auto p : {u"a.example", u"b.example", u"c.example"}) ASSERT_TRUE(AddUserTrustedSite(p).ok());
  ASSERT_TRUE(RemoveUserTrustedSite(u"B.EXAMPLE").ok());
  EXPECT_EQ(ReadUserTrustedSites(), (std::vector<std::u16string>{u"a.example", u"c.example"}));
  EXPECT_EQ(ZoneOfPage(u"https://c.example/"), kTrustedSitesZone);
  EXPECT_EQ(RemoveUserTrustedSite(u"b.example").code(), 2u);
}

}  // namespace
}  // namespace qs
