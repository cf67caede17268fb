#include "url/request_url.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "base/error.h"
#include "base/text.h"

namespace qs {
namespace {

PageUrlSource PageAt(std::u16string address) {
  return [address](std::u16string& url) {
    url = address;
    return 0u;
  };
}

PageUrlSource FailingPage(uint32_t result) {
  return [result](std::u16string&) { return result; };
}

constexpr uint32_t kRefused = 87;

struct Case {
  const char16_t* page;
  const char16_t* relative;
  uint32_t code;
  const char16_t* absolute;  // for code 0
};

TEST(ResolveRequestUrl, ResolvesAgainstThePageAndKeepsToItsHostAndPort) {
  const char16_t* app = u"https://dms.example/app/page";
  const Case cases[] = {
      {app, u"upload/x?a=1", 0, u"https://dms.example/app/upload/x?a=1"},
      {app, u"/a", 0, u"https://dms.example/a"},
      {app, u"../x", 0, u"https://dms.example/x"},
      {app, u"//dms.example/b", 0, u"https://dms.example/b"},
      {app, u"https://DMS.EXAMPLE/z", 0, u"https://DMS.EXAMPLE/z"},        // case of the host
      {app, u"http://dms.example:443/z", 0, u"http://dms.example:443/z"},  // port only
      {app, u"https://dms.example:443/z", 0, u"https://dms.example:443/z"},
      {app, u"", 0, u"https://dms.example/app/page"},
      {app, u"x#part", 0, u"https://dms.example/app/x"},  // a fragment is never sent
      {app, u"https://user:pw@dms.example/z", 0, u"https://user:pw@dms.example/z"},
      {app, u"x y?n=a b", 0, u"https://dms.example/app/x%20y?n=a%20b"},
      {u"http://h", u"http://h:80/f", 0, u"http://h:80/f"},  // default port written out
      {u"http://h:80/", u"http://h/f", 0, u"http://h/f"},
      {u"http://127.0.0.1:8080/p/q", u"r?s", 0, u"http://127.0.0.1:8080/p/r?s"},
      {u"http://[::1]:8080/", u"x", 0, u"http://[::1]:8080/x"},
      {u"https://B\u00dcCHER.example/app/", u"https://b\u00fccher.example/x", 0,
       u"https://xn--bcher-kva.example/x"},  // host handed on in ASCII form
      // An international host is the same host in either spelling, and in no other.
      {u"https://www.b\u00fccher.example/", u"https://www.xn--bcher-kva.example/x", 0,
       u"https://www.xn--bcher-kva.example/x"},
      {u"https://www.xn--bcher-kva.example/", u"https://www.b\u00fccher.example/x", 0,
       u"https://www.xn--bcher-kva.example/x"},
      {u"https://www.XN--BCHER-KVA.example/", u"https://WWW.B\u00dcCHER.example/x", 0,
       u"https://www.xn--bcher-kva.example/x"},
      {u"https://www.b\u00fccher.example/", u"https://www\uff0eb\u00fccher.example/x", 0,
       u"https://www.xn--bcher-kva.example/x"},
      {u"https://www.b\u00fccher.example/", u"https://www.xn--bcher-kva.example:8443/", kRefused,
       nullptr},
      {u"https://www.b\u00fccher.example/", u"http://www.xn--bcher-kva.example/", kRefused,
       nullptr},
      {u"https://www.b\u00fccher.example/", u"https://xn--bcher-kva.example/", kRefused, nullptr},
      {u"https://www.b\u00fccher.example/", u"https://www.xn--bcher-kva.example.evil/", kRefused,
       nullptr},
      {u"https://www.b\u00fccher.example/", u"https://www.xn--bcher-kva.example./", kRefused,
       nullptr},
      {u"https://www.b\u00fccher.example/", u"https://www.b\u00fccher.example./", kRefused,
       nullptr},
      {u"https://www.b\u00fccher.example/", u"https://www.xn--bcher-kvb.example/", kRefused,
       nullptr},
      {u"https://www.xn--bcher-kva.example/", u"https://www.bucher.example/", kRefused, nullptr},
      {u"https://www.xn--bcher-kva.example/", u"https://www.b\u00fccher.example.evil/", kRefused,
       nullptr},

      {app, u"https://other.example/z", kRefused, nullptr},
      {app, u"//other.example/b", kRefused, nullptr},
      {app, u"http://dms.example/z", kRefused, nullptr},  // 80 against 443
      {app, u"https://dms.example:8443/z", kRefused, nullptr},
      {app, u"https://dms.example.evil/z", kRefused, nullptr},
      {app, u"https://dms.example@evil.example/z", kRefused, nullptr},    // user name, other host
      {app, u"https://evil.example\\@dms.example/z", kRefused, nullptr},  // as a browser reads it
      {app, u"\\\\evil.example\\z", kRefused, nullptr},
      {app, u"..\\upload\\x", 0, u"https://dms.example/upload/x"},
      {app, u"ftp://dms.example/z", kRefused, nullptr},  // port 21
      {app, u"foo://dms.example/z", kRefused, nullptr},  // no port at all
      {app, u"file:///etc/passwd", kRefused, nullptr},   // no host
      {u"https://b\u00fccher.example/", u"https://bucher.example/", kRefused, nullptr},
      {u"about:blank", u"http://h/x", kRefused, nullptr},  // the page is no URL
      {u"", u"http://h/x", kRefused, nullptr},
      {u"dms.example/app", u"x", kRefused, nullptr},

      {app, u"http://dms.example:99999/", 12005, nullptr},
      {app, u"javascript:alert(1)", 12005, nullptr},
      {app, u"https://a_b\u00fc.dms.example/", kRefused, nullptr},
      {u"https://a_b\u00fc.example/", u"x", 123, nullptr},  // same host, but no ASCII form
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.page) + " + " + ToUtf8(c.relative));
    std::u16string absolute = u"unchanged";
    EXPECT_EQ(ResolveRequestUrl(PageAt(c.page), c.relative, absolute), c.code);
    EXPECT_EQ(absolute, c.code == 0 ? c.absolute : u"unchanged");
  }
}

// The resolved URL must fit the 2084-character buffer with its terminator.
TEST(ResolveRequestUrl, LimitsTheResolvedUrl) {
  const std::u16string page = u"http://h/";  // 9 characters
  std::u16string absolute;
  const std::u16string longest(kResolvedUrlCapacity - 1 - page.size(), u'a');
  ASSERT_EQ(ResolveRequestUrl(PageAt(page), longest, absolute), 0u);
  EXPECT_EQ(absolute.size(), kResolvedUrlCapacity - 1);

  absolute.clear();
  EXPECT_EQ(ResolveRequestUrl(PageAt(page), longest + u"a", absolute), 122u);
  EXPECT_TRUE(absolute.empty());
  // Escaping counts: 700 spaces are 2100 characters once written as %20.
  EXPECT_EQ(ResolveRequestUrl(PageAt(page), std::u16string(700, u' ') + u"x", absolute), 0u)
      << "leading spaces are trimmed";
  EXPECT_EQ(ResolveRequestUrl(PageAt(page), u"x" + std::u16string(700, u' ') + u"x", absolute),
            122u);
  // A long input that resolves to a short URL is fine.
  std::u16string climbing;
  for (int i = 0; i < 600; ++i) climbing += u"a/../";
  EXPECT_EQ(ResolveRequestUrl(PageAt(page), climbing + u"z", absolute), 0u);
  EXPECT_EQ(absolute, u"http://h/z");
}

TEST(ResolveRequestUrl, ReportsThePageFailureInItsLowHalf) {
  std::u16string absolute = u"unchanged";
  EXPECT_EQ(ResolveRequestUrl(FailingPage(0x80004005), u"x", absolute), 0x4005u);
  EXPECT_EQ(ResolveRequestUrl(FailingPage(0x80070005), u"x", absolute), 5u);
  // A failure whose low half is 0 must not read as success.
  EXPECT_EQ(ResolveRequestUrl(FailingPage(0x80070000), u"x", absolute), kRefused);
  EXPECT_EQ(ResolveRequestUrl(PageUrlSource(), u"x", absolute), 0x4005u);
  EXPECT_EQ(absolute, u"unchanged");
}

TEST(ResolveRequestUrl, AsksThePageEveryTime) {
  int calls = 0;
  std::u16string address = u"http://one.example/";
  const PageUrlSource page = [&](std::u16string& url) {
    ++calls;
    url = address;
    return 0u;
  };
  std::u16string absolute;
  EXPECT_EQ(ResolveRequestUrl(page, u"http://two.example/", absolute), kRefused);
  address = u"http://two.example/";
  EXPECT_EQ(ResolveRequestUrl(page, u"http://two.example/", absolute), 0u);
  EXPECT_EQ(calls, 2);
}

// Transfers resolve on the page's thread while workers may do the same: nothing is shared.
TEST(ResolveRequestUrl, RunsOnSeveralThreadsAtOnce) {
  std::vector<std::u16string> results(4);
  std::vector<uint32_t> codes(4, 1);
  {
    std::vector<std::jthread> threads;
    for (size_t t = 0; t < results.size(); ++t) {
      threads.emplace_back([&, t] {
        const PageUrlSource page = PageAt(u"https://b\u00fccher.example/app/");
        for (int i = 0; i < 50; ++i) codes[t] = ResolveRequestUrl(page, u"x?i=1", results[t]);
      });
    }
  }
  for (size_t t = 0; t < results.size(); ++t) {
    EXPECT_EQ(codes[t], 0u);
    EXPECT_EQ(results[t], u"https://xn--bcher-kva.example/app/x?i=1");
  }
}

TEST(GetPageUrl, PassesTheSourceOn) {
  std::u16string url = u"unchanged";
  EXPECT_EQ(GetPageUrl(PageAt(u"http://h/p"), url), 0u);
  EXPECT_EQ(url, u"http://h/p");
  url = u"unchanged";
  EXPECT_EQ(GetPageUrl(FailingPage(0x80004005), url), 0x80004005u);
  EXPECT_EQ(GetPageUrl(PageUrlSource(), url), 0x80004005u);
  EXPECT_EQ(url, u"unchanged");
}

}  // namespace
}  // namespace qs
