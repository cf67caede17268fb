#include "url/redirect_rule.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/text.h"
#include "url/host_rule.h"

namespace qs {
namespace {

TEST(HostMatchesRule, PatternsMatchTheSuffixAndItsSubdomainsOnly) {
  EXPECT_TRUE(HostMatchesRule(u"*.example.com", u"example.com"));
  EXPECT_TRUE(HostMatchesRule(u"*.example.com", u"docs.example.com"));
  EXPECT_TRUE(HostMatchesRule(u"*.example.com", u"a.b.example.com"));
  EXPECT_FALSE(HostMatchesRule(u"*.example.com", u"badexample.com"));
  EXPECT_FALSE(HostMatchesRule(u"*.example.com", u"example.com.evil.test"));
  EXPECT_FALSE(HostMatchesRule(u"*.example.com", u"EXAMPLE.com"));  // callers fold case
  EXPECT_TRUE(HostMatchesRule(u"docs.example.com", u"docs.example.com"));
  EXPECT_FALSE(HostMatchesRule(u"docs.example.com", u"x.docs.example.com"));
  EXPECT_FALSE(HostMatchesRule(u"*.", u"x."));
  EXPECT_TRUE(HostMatchesRule(u"", u""));
  EXPECT_FALSE(HostMatchesRule(u"", u"a"));
}

TEST(RedirectHostRules, EntriesBecomeLowerCaseAsciiRules) {
  const std::vector<std::u16string> entries = {u"Files.Example.COM",
                                               u"*.CDN.example.net",
                                               u"https://Store.example.org/path",
                                               u"bücher.de",
                                               u"*.Bücher.de",
                                               u"",
                                               u"bad host",
                                               u"http://"};
  const std::vector<std::u16string> expected = {u"files.example.com", u"*.cdn.example.net",
                                                u"store.example.org", u"xn--bcher-kva.de",
                                                u"*.xn--bcher-kva.de"};
  EXPECT_EQ(RedirectHostRules(entries), expected);
}

TEST(MayFollowRedirect, OnlyThePagesOriginOrAListedHostNeverDowngraded) {
  const std::u16string first = u"https://dms.example.test:8443/download?file=a";
  const std::vector<std::u16string> rules = {u"*.cdn.example.net", u"files.example.com"};
  struct Case {
    const char16_t* from;
    const char16_t* to;
    bool followed;
  };
  const Case cases[] = {
      {first.c_str(), u"https://dms.example.test:8443/other", true},
      {first.c_str(), u"https://DMS.Example.Test:8443/other", true},
      {first.c_str(), u"https://dms.example.test/other", false},  // another port
      {first.c_str(), u"https://dms.example.test:8444/other", false},
      {first.c_str(), u"http://dms.example.test:8443/other", false},  // https to http
      {first.c_str(), u"https://intranet.local:8443/admin", false},   // another host
      {first.c_str(), u"https://127.0.0.1:8443/x", false},
      {first.c_str(), u"ftp://dms.example.test:8443/x", false},
      {first.c_str(), u"file:///etc/passwd", false},
      {first.c_str(), u"https://u:p@dms.example.test:8443/x", false},  // credentials
      {first.c_str(), u"https://x.cdn.example.net/f", true},           // listed, any port
      {first.c_str(), u"https://X.CDN.example.net:9000/f", true},
      {first.c_str(), u"https://cdn.example.net/f", true},
      {first.c_str(), u"http://x.cdn.example.net/f", false},  // listed, but downgraded
      {u"http://files.example.com/f", u"http://files.example.com/g", true},
      {first.c_str(), u"https://evilcdn.example.net/f", false},
      {first.c_str(), u"https://files.example.com.evil.test/f", false},
      {first.c_str(), u"not a url", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MayFollowRedirect(first, c.from, c.to, rules), c.followed)
        << ToUtf8(c.from) << " -> " << ToUtf8(c.to);
  }
  // An http page: its own origin only, and an upgrade to https is another origin.
  const std::u16string plain = u"http://127.0.0.1:8080/download";
  EXPECT_TRUE(MayFollowRedirect(plain, plain, u"http://127.0.0.1:8080/x", {}));
  EXPECT_FALSE(MayFollowRedirect(plain, plain, u"http://127.0.0.1:8081/x", {}));
  EXPECT_FALSE(MayFollowRedirect(plain, plain, u"http://localhost:8080/x", {}));
}

}  // namespace
}  // namespace qs
