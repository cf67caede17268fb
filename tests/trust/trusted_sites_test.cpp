#include "trust/trusted_sites.h"

#include <gtest/gtest.h>

#include "base/text.h"
#include "config/reg_values.h"
#include "config/store_fixture.h"
#include "config/store_layout.h"
#include "platform/settings_store.h"
#include "trust/site_lock.h"

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

class TrustedSitesTest : public testing::StoreTest {
 protected:
  // `entry` becomes the administrator's only site-list entry.
  void SetSiteLockEntry(std::u16string_view entry) {
    auto list = platform::SettingsKey::Create(PolicyKeyPath(kSiteLock));
    ASSERT_TRUE(list.ok());
    ASSERT_TRUE(list->Set(u"1", platform::kRegSz, SzData(entry)).ok());
  }
  // Whether the site lock lets the page at `url` of the internet zone pass.
  static bool SiteLockAllows(std::u16string_view url) {
    return CheckSiteLock(HostingPage{std::u16string(url), kInternetZone});
  }
};

// A pattern of an international domain matches the same pages in either spelling of its suffix,
// in the trusted-sites list and in the site lock alike, and no other spelling of a host gets a
// page past it.
TEST_F(TrustedSitesTest, InternationalPatternsMatchTheSamePagesInBothLists) {
  const std::u16string_view patterns[] = {u"*.b\u00FCcher.example", u"*.xn--bcher-kva.example",
                                          u"*.b\u00FCcher\u3002example"};
  struct Page {
    const char16_t* url;
    bool passes;
  };
  const Page pages[] = {
      {u"https://www.b\u00FCcher.example/", true},
      {u"https://www.xn--bcher-kva.example/", true},
      {u"http://b\u00FCcher.example:8080/", true},
      {u"https://xn--bcher-kva.example/", true},
      {u"https://a.b.b\u00FCcher.example/", true},
      // Other spellings of the same host, as the HTTP client and the browser read them.
      {u"https://WWW.B\u00DCcher.example/", true},
      {u"https://www\uFF0Eb\u00FCcher\u3002example/", true},
      {u"https://www.b%C3%BCcher.example/", true},
      // Other hosts.
      {u"https://evilb\u00FCcher.example/", false},
      {u"https://www.xn--evilbcher-q9a.example/", false},
      {u"https://www.b\u00FCcher.example.evil/", false},
      {u"https://b\u00FCcher.example\uFF0Eevil/", false},
      {u"https://bucher.example/", false},
      {u"https://evil.example\uFF0F.b\u00FCcher.example/", false},
      {u"https://evil.example%2F.b\u00FCcher.example/", false},
      {u"https://www.b\u00FCcher.example@evil.example/", false},
      {u"https://evil.example/b\u00FCcher.example", false},
      // Letter case counts for hosts already in ASCII form, as it does for every rule.
      {u"https://WWW.XN--BCHER-KVA.EXAMPLE/", false},
      // A trailing dot is a spelling that matches no rule.
      {u"https://www.b\u00FCcher.example./", false},
      {u"https://www.xn--bcher-kva.example./", false},
  };
  for (const auto pattern : patterns) {
    SetSiteLockEntry(pattern);
    for (const auto& page : pages) {
      SCOPED_TRACE(ToUtf8(pattern) + " on " + ToUtf8(page.url));
      EXPECT_EQ(SitePatternMatches(pattern, page.url), page.passes);
      EXPECT_EQ(SiteLockAllows(page.url), page.passes);
    }
  }
  // Spellings of a pattern that cover nothing rather than more.
  for (const std::u16string_view pattern :
       {u"*\uFF0Eb\u00FCcher.example", u"*.b%C3%BCcher.example", u"*.b\u00FCcher.example.",
        u"*.example\uFF0F.b\u00FCcher.example"}) {
    SCOPED_TRACE(ToUtf8(pattern));
    SetSiteLockEntry(pattern);
    EXPECT_FALSE(SitePatternMatches(pattern, u"https://www.b\u00FCcher.example/"));
    EXPECT_FALSE(SiteLockAllows(u"https://www.b\u00FCcher.example/"));
  }
}

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
