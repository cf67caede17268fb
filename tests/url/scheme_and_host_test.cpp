#include "url/scheme_and_host.h"

#include <gtest/gtest.h>

#include <string>

#include "base/text.h"

namespace qs {
namespace {

constexpr uint32_t kPointer = 0x80004003;
constexpr uint32_t kFail = 0x80004005;
constexpr uint32_t kOutOfMemory = 0x8007000E;
constexpr uint32_t kInvalidName = 0x8007007B;

struct Case {
  const char16_t* url;
  uint32_t code;
  const char16_t* scheme;  // for code 0
  const char16_t* host;
};

TEST(GetUrlSchemeAndHost, TakesApartPlainHttpAddresses) {
  const Case cases[] = {
      {u"http://dms.example/app", 0, u"http", u"dms.example"},
      {u"HTTPS://Dms.Example:8443/app?x", 0, u"https", u"Dms.Example"},  // host as written
      {u"https://b\u00fccher.example/", 0, u"https", u"xn--bcher-kva.example"},
      {u"http://127.0.0.1:1/", 0, u"http", u"127.0.0.1"},
      {u"http://[::1]/", 0, u"http", u"[::1]"},
      {u"http://a_b.example/", 0, u"http", u"a_b.example"},    // ASCII: unchanged, not checked
      {u"http://:@dms.example/", 0, u"http", u"dms.example"},  // empty user and password

      {u"ftp://dms.example/", kFail, nullptr, nullptr},
      {u"file:///etc/passwd", kFail, nullptr, nullptr},
      {u"foo://dms.example/", kFail, nullptr, nullptr},
      {u"https://user@dms.example/", kFail, nullptr, nullptr},
      {u"https://:pw@dms.example/", kFail, nullptr, nullptr},
      {u"https://evil.example\\@dms.example/", kFail, nullptr, nullptr},
      {u"http://bad space/", kFail, nullptr, nullptr},
      {u"dms.example", kFail, nullptr, nullptr},
      {u"", kFail, nullptr, nullptr},
      {u"https://a_b\u00fc.example/", kInvalidName, nullptr, nullptr},
      {u"https://\u00fc-.example/", kInvalidName, nullptr, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.url));
    std::u16string scheme;
    std::u16string host;
    EXPECT_EQ(GetUrlSchemeAndHost(c.url, &scheme, kUrlSchemeCapacity, &host, kHostNameCapacity),
              c.code);
    if (c.code == 0) {
      EXPECT_EQ(scheme, c.scheme);
      EXPECT_EQ(host, c.host);
    }
  }
}

TEST(GetUrlSchemeAndHost, MissingOutputs) {
  std::u16string text;
  EXPECT_EQ(GetUrlSchemeAndHost(u"http://h/", nullptr, 33, &text, 257), kPointer);
  EXPECT_EQ(GetUrlSchemeAndHost(u"http://h/", &text, 33, nullptr, 257), kPointer);
}

TEST(GetUrlSchemeAndHost, HonoursCapacities) {
  std::u16string scheme;
  std::u16string host;
  // A scheme that does not fit fails.
  EXPECT_EQ(GetUrlSchemeAndHost(u"https://h/", &scheme, 5, &host, 257), kFail);
  EXPECT_EQ(GetUrlSchemeAndHost(u"https://h/", &scheme, 6, &host, 257), 0u);
  // A host that does not fit is left empty, and the checks go on.
  const std::u16string long_host = std::u16string(60, u'a') + u"." + std::u16string(60, u'b');
  EXPECT_EQ(GetUrlSchemeAndHost(u"http://" + long_host + u"/", &scheme, 33, &host, 121), 0u);
  EXPECT_EQ(host, u"");
  EXPECT_EQ(GetUrlSchemeAndHost(u"ftp://" + long_host + u"/", &scheme, 33, &host, 121), kFail);
  EXPECT_EQ(GetUrlSchemeAndHost(u"http://" + long_host + u"/", &scheme, 33, &host, 122), 0u);
  EXPECT_EQ(host, long_host);
}

TEST(HostToAscii, ConvertsOnlyWhatNeedsIt) {
  std::u16string host = u"Dms.Example";
  EXPECT_EQ(HostToAscii(&host, kHostNameCapacity), 0u);
  EXPECT_EQ(host, u"Dms.Example");
  host = u"bad space";  // ASCII: nothing to convert, nothing checked
  EXPECT_EQ(HostToAscii(&host, kHostNameCapacity), 0u);
  EXPECT_EQ(host, u"bad space");

  host = u"B\u00fccher.Example";
  EXPECT_EQ(HostToAscii(&host, kHostNameCapacity), 0u);
  EXPECT_EQ(host, u"xn--bcher-kva.example");
}

TEST(HostToAscii, Failures) {
  EXPECT_EQ(HostToAscii(nullptr, kHostNameCapacity), kPointer);

  for (const char16_t* refused : {u"a_b\u00fc.example", u"bad space\u00fc", u"\u00fc..example"}) {
    std::u16string host = refused;
    EXPECT_EQ(HostToAscii(&host, kHostNameCapacity), kInvalidName) << ToUtf8(refused);
    EXPECT_EQ(host, refused);
  }

  // "xn--bcher-kva.example" has 21 characters: it needs a capacity of 22.
  std::u16string host = u"b\u00fccher.example";
  EXPECT_EQ(HostToAscii(&host, 21), kOutOfMemory);
  EXPECT_EQ(host, u"b\u00fccher.example");
  EXPECT_EQ(HostToAscii(&host, 22), 0u);
  EXPECT_EQ(host, u"xn--bcher-kva.example");
}

TEST(HostToAscii, RefusesNamesTooLongForTheAsciiBuffer) {
  // Four labels of 63 characters and "\u00fc": longer than a host name may be.
  std::u16string host;
  for (int i = 0; i < 4; ++i) host += std::u16string(63, u'a') + u".";
  host += u"\u00fc";
  const std::u16string before = host;
  EXPECT_NE(HostToAscii(&host, 1000), 0u);
  EXPECT_EQ(host, before);
}

TEST(SplitSchemeAndHost, ReadsSiteListEntries) {
  const struct {
    const char16_t* entry;
    const char16_t* scheme;
    const char16_t* host;
  } cases[] = {
      {u"https://dms.example", u"https", u"dms.example"},
      {u"HTTPS://Dms.Example:8443/path?q#f", u"HTTPS", u"Dms.Example"},  // as written
      {u"http://*.example.com", u"http", u"*.example.com"},              // a pattern
      {u"http://u:p@host.example:1/", u"http", u"host.example"},
      {u"http://a@b@host.example/", u"http", u"host.example"},
      {u"http://[::1]:8080/", u"http", u"[::1]"},
      {u"http://b\u00fccher.example", u"http", u"b\u00fccher.example"},
      {u"http://", u"http", u""},
      {u"localhost:8080", u"localhost", u""},  // no "//": no host
      {u"mailto:a@b", u"mailto", u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.entry));
    const auto split = SplitSchemeAndHost(c.entry);
    ASSERT_TRUE(split.has_value());
    EXPECT_EQ(split->scheme, c.scheme);
    EXPECT_EQ(split->host, c.host);
  }
  for (const char16_t* entry :
       {u"", u"dms.example", u"*.example.com", u"://h", u"1http://h", u"ht tp://h"}) {
    EXPECT_FALSE(SplitSchemeAndHost(entry).has_value()) << ToUtf8(entry);
  }
}

}  // namespace
}  // namespace qs
