#include "platform/url_parts.h"

#include <gtest/gtest.h>

#include <string>

#include "base/text.h"
#include "platform/last_error.h"

namespace qs::platform {
namespace {

std::string Narrow(std::u16string_view text) { return ToUtf8(text); }

TEST(UrlParts, IsUrl) {
  for (const char16_t* url : {u"http://h", u"https://h:8443/a?b", u"file:///x", u"foo://h/x",
                              u"HTTP://H/", u"http://h/a b"}) {
    EXPECT_TRUE(IsUrl(url)) << Narrow(url);
  }
  for (const char16_t* text :
       {u"", u"h/x", u"/x", u"x", u"c:\\x", u"mailto:a@b", u"javascript:alert(1)",
        u"http://*.example/", u"http://h:99999/", u"http://h/\x01"}) {
    EXPECT_FALSE(IsUrl(text)) << Narrow(text);
  }
  EXPECT_FALSE(IsUrl(std::u16string(u"http://h/\0x", 11)));
}

TEST(UrlParts, IsUrlLeavesLastErrorAlone) {
  SetLastError(42);
  EXPECT_FALSE(IsUrl(u"no url"));
  EXPECT_EQ(LastError(), 42u);
}

struct SplitCase {
  const char16_t* url;
  const char16_t* scheme;
  const char16_t* host;
  uint16_t port;
  bool explicit_port;
  const char16_t* user;
  const char16_t* password;
  const char16_t* path;
  const char16_t* query;
};

TEST(UrlParts, Splits) {
  const SplitCase cases[] = {
      {u"http://h", u"http", u"h", 80, false, u"", u"", u"/", u""},
      {u"http://h:80/", u"http", u"h", 80, true, u"", u"", u"/", u""},
      {u"https://Host.Example/app/page?a=1&b=2", u"https", u"Host.Example", 443, false, u"", u"",
       u"/app/page", u"a=1&b=2"},
      {u"HTTPS://H:8443/x", u"https", u"H", 8443, true, u"", u"", u"/x", u""},
      {u"http://user:p%40ss@h/", u"http", u"h", 80, false, u"user", u"p@ss", u"/", u""},
      {u"http://user@h/", u"http", u"h", 80, false, u"user", u"", u"/", u""},
      {u"http://:@h/", u"http", u"h", 80, false, u"", u"", u"/", u""},
      {u"http://[::1]:8080/x", u"http", u"[::1]", 8080, true, u"", u"", u"/x", u""},
      {u"http://b\u00fccher.example/\u00fc?\u00e4", u"http", u"b\u00fccher.example", 80, false, u"",
       u"", u"/%C3%BC", u"%C3%A4"},
      {u"http://h/a b", u"http", u"h", 80, false, u"", u"", u"/a%20b", u""},
      {u"ftp://h/x", u"ftp", u"h", 21, false, u"", u"", u"/x", u""},
      {u"foo://h/x", u"foo", u"h", 0, false, u"", u"", u"/x", u""},  // unknown: no default
      {u"foo://h:7/x", u"foo", u"h", 7, true, u"", u"", u"/x", u""},
      {u"file:///etc/x", u"file", u"", 0, false, u"", u"", u"/etc/x", u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.url));
    auto parts = SplitUrl(c.url);
    ASSERT_TRUE(parts.ok()) << parts.code();
    EXPECT_EQ(parts->scheme, c.scheme);
    EXPECT_EQ(parts->host, c.host);
    EXPECT_EQ(parts->port, c.port);
    EXPECT_EQ(parts->has_explicit_port, c.explicit_port);
    EXPECT_EQ(parts->user, c.user);
    EXPECT_EQ(parts->password, c.password);
    EXPECT_EQ(parts->path, c.path);
    EXPECT_EQ(parts->query, c.query);
  }
}

TEST(UrlParts, PathAndQuery) {
  EXPECT_EQ(SplitUrl(u"http://h/a/b?c=d").value().PathAndQuery(), u"/a/b?c=d");
  EXPECT_EQ(SplitUrl(u"http://h/a/b").value().PathAndQuery(), u"/a/b");
}

TEST(UrlParts, SplitFailuresCarryCodesAndLastError) {
  const struct {
    std::u16string url;
    ErrorCode code;
  } cases[] = {
      {u"", ErrorCode::kInternetUnrecognizedScheme},
      {u"h/x", ErrorCode::kInternetUnrecognizedScheme},
      {u"http://h:99999/", ErrorCode::kInternetInvalidUrl},
      {u"http://bad space/", ErrorCode::kInternetInvalidUrl},
      {u"http://*.example/", ErrorCode::kInternetInvalidUrl},
      {u"mailto:a@b", ErrorCode::kInternetInvalidUrl},
      {u"http://h/\x01", ErrorCode::kInternetInvalidUrl},
      {std::u16string(u"http://h\0.evil/", 15), ErrorCode::kInternetInvalidUrl},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.url));
    SetLastError(0);
    auto parts = SplitUrl(c.url);
    EXPECT_EQ(parts.code(), ToUint(c.code));
    EXPECT_EQ(LastError(), ToUint(c.code));
  }
}

struct CombineCase {
  const char16_t* base;
  const char16_t* reference;
  const char16_t* combined;
};

TEST(UrlParts, CombinesLikeABrowser) {
  const char16_t* page = u"https://Host.Example/app/page?x=1#top";
  const CombineCase cases[] = {
      {page, u"upload/x?a=1", u"https://Host.Example/app/upload/x?a=1"},
      {page, u"/a", u"https://Host.Example/a"},
      {page, u"../x", u"https://Host.Example/x"},
      {page, u"../../../x", u"https://Host.Example/x"},
      {page, u"./a/./b/../c", u"https://Host.Example/app/a/c"},
      {page, u"?q", u"https://Host.Example/app/page?q"},
      {page, u"#f", u"https://Host.Example/app/page?x=1#f"},
      {page, u"#", u"https://Host.Example/app/page?x=1#"},
      {page, u"//other:81/b", u"https://other:81/b"},
      {page, u"http://h/z", u"http://h/z"},
      {page, u"HTTP://H:80/z", u"http://H:80/z"},
      {page, u"", u"https://Host.Example/app/page?x=1"},  // the page itself
      {page, u" \t ", u"https://Host.Example/app/page?x=1"},
      {page, u"  up\tlo\nad/x \r\n", u"https://Host.Example/app/upload/x"},
      // Escaped as browsers send them: a space is %20 in the query as well (a "+" there is a
      // plus sign to the server), non-ASCII characters are their UTF-8 bytes.
      {page, u"my file.txt?n=a b&p=1+2", u"https://Host.Example/app/my%20file.txt?n=a%20b&p=1+2"},
      {page, u"\u00fc?\u00e4#\u00f6 x", u"https://Host.Example/app/%C3%BC?%C3%A4#%C3%B6%20x"},
      {page, u"a%20b?c%2Bd", u"https://Host.Example/app/a%20b?c%2Bd"},  // escapes kept, not doubled
      {page, u"p\"<>`{}|?q\"<>'`{}",
       u"https://Host.Example/app/p%22%3C%3E%60%7B%7D|?q%22%3C%3E%27`{}"},
      {u"foo://h/a", u"b?q'", u"foo://h/b?q'"},  // ' is escaped in the query of web schemes only
      {u"http://h/my app/", u"x", u"http://h/my%20app/x"},
      {page, u"..\\up\\x?a=\\b", u"https://Host.Example/up/x?a=\\b"},
      {page, u"\\\\other\\x", u"https://other/x"},
      {page, u"HTTP:\\\\other\\x", u"http://other/x"},
      {page, u"http://other\\@Host.Example/", u"http://other/@Host.Example/"},
      {u"foo://h/a/b", u"c\\d", u"foo://h/a/c\\d"},  // not a web scheme: kept
      {u"foo://h/a/b", u"c", u"foo://h/a/c"},
      {u"file:///home/u/page.html", u"x", u"file:///home/u/x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.base) + " + " + Narrow(c.reference));
    auto combined = CombineUrl(c.base, c.reference, 2083);
    ASSERT_TRUE(combined.ok()) << combined.code();
    EXPECT_EQ(*combined, c.combined);
  }
}

TEST(UrlParts, CombineFailures) {
  const struct {
    std::u16string base;
    std::u16string reference;
    ErrorCode code;
  } cases[] = {
      {u"not a url", u"x", ErrorCode::kInternetUnrecognizedScheme},
      {u"https://h/", u"http://h:99999/", ErrorCode::kInternetInvalidUrl},
      {u"https://h/", u"mailto:a@b", ErrorCode::kInternetInvalidUrl},
      {u"https://h/", u"x\x01y", ErrorCode::kInternetInvalidUrl},
      // Cut at the NUL, this would be a harmless "x"; whole, it is refused.
      {u"https://h/", std::u16string(u"x\0//evil/", 9), ErrorCode::kInternetInvalidUrl},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.base) + " + " + Narrow(c.reference));
    SetLastError(0);
    EXPECT_EQ(CombineUrl(c.base, c.reference, 2083).code(), ToUint(c.code));
    EXPECT_EQ(LastError(), ToUint(c.code));
  }
}

TEST(UrlParts, CombineHonoursTheLengthLimit) {
  const std::u16string base = u"http://h/";  // 9 characters
  EXPECT_TRUE(CombineUrl(base, std::u16string(20, u'a'), 29).ok());
  SetLastError(0);
  EXPECT_EQ(CombineUrl(base, std::u16string(21, u'a'), 29).code(),
            ToUint(ErrorCode::kInsufficientBuffer));
  EXPECT_EQ(LastError(), ToUint(ErrorCode::kInsufficientBuffer));
  // The limit applies to the escaped result: three characters become 18.
  EXPECT_TRUE(CombineUrl(base, std::u16string(3, u'\u00fc'), 27).ok());
  EXPECT_FALSE(CombineUrl(base, std::u16string(3, u'\u00fc'), 26).ok());
}

TEST(UrlParts, UrlForRequest) {
  const CombineCase cases[] = {
      {u"http://h/a?b#frag", nullptr, u"http://h/a?b"},
      {u"http://b\u00fccher.example:81/x?y", nullptr, u"http://xn--bcher-kva.example:81/x?y"},
      {u"http://u:p@B\u00dcCHER.example/", nullptr, u"http://u:p@xn--bcher-kva.example/"},
      {u"http://Host.Example/", nullptr, u"http://Host.Example/"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.base));
    auto url = UrlForRequest(c.base);
    ASSERT_TRUE(url.ok()) << url.code();
    EXPECT_EQ(*url, c.combined);
  }
  EXPECT_EQ(UrlForRequest(u"http://a_b\u00fc.example/").code(), ToUint(ErrorCode::kInvalidName));
  EXPECT_EQ(UrlForRequest(u"nothing").code(), ToUint(ErrorCode::kInternetUnrecognizedScheme));
}

}  // namespace
}  // namespace qs::platform
