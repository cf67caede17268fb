#include "config/reg_values.h"

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "base/text.h"
#include "config/store_fixture.h"
#include "config/store_layout.h"

namespace qs {
namespace {

using platform::SettingsKey;
using testing::Bytes;

class RegValuesTest : public testing::StoreTest {
 protected:
  SettingsKey UserKey() {
    auto path = DatasourceKeyPath(u"DS1", u"alice");
    EXPECT_TRUE(path.ok());
    auto key = SettingsKey::Create(*path);
    EXPECT_TRUE(key.ok());
    return std::move(key.value());
  }
  static std::vector<uint8_t> Multi(std::initializer_list<std::u16string> entries) {
    std::vector<std::u16string> list(entries);
    return MultiSzData(list);
  }
};

TEST(RegDataLayout, StringsAndMultiStrings) {
  EXPECT_EQ(SzData(u"ab"), Bytes({'a', 0, 'b', 0, 0, 0}));
  EXPECT_EQ(SzData(u""), Bytes({0, 0}));
  EXPECT_EQ(TextFromData(Bytes({'a', 0, 0, 0, 'b', 0})), u"a");
  EXPECT_EQ(TextFromData(Bytes({'a', 0, 'b'})), u"a");  // odd last byte ignored
  EXPECT_EQ(TextFromData({}), u"");

  const std::vector<std::u16string> two = {u"a", u"bc"};
  EXPECT_EQ(MultiSzData(two), Bytes({'a', 0, 0, 0, 'b', 0, 'c', 0, 0, 0, 0, 0}));

  struct Case {
    const char* what;
    std::vector<uint8_t> data;
    std::vector<std::u16string> entries;
  };
  const Case cases[] = {
      {"empty data", {}, {}},
      {"only the final NUL", Bytes({0, 0}), {}},
      {"two entries", MultiSzData(two), two},
      {"last entry lacks its NUL", Bytes({'a', 0, 0, 0, 'b', 0}), {u"a", u"b"}},
      {"entry lacks the final NUL", Bytes({'a', 0, 0, 0}), {u"a"}},
      {"empty string ends the list", Bytes({'a', 0, 0, 0, 0, 0, 'b', 0, 0, 0, 0, 0}), {u"a"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseMultiSz(c.data), c.entries) << c.what;
  }
}

TEST(StoreLayout, DatasourceKeyPathKeepsItsLimitAndComponents) {
  auto path = DatasourceKeyPath(u"DS:1", u"bob");
  ASSERT_TRUE(path.ok());
  EXPECT_EQ(*path, u"SOFTWARE\\Tarnholt\\Quillstone Web Client\\Datasources\\DS:1\\bob");

  const size_t fixed = path->size() - 4 - 3;  // without "DS:1" and "bob"
  const size_t room = kMaxDatasourceKeyPathLength - fixed;
  EXPECT_TRUE(DatasourceKeyPath(std::u16string(room - 1, u'd'), u"u").ok());
  EXPECT_EQ(DatasourceKeyPath(std::u16string(room, u'd'), u"u").code(), 206u);
  EXPECT_EQ(DatasourceKeyPath(u"", u"u").code(), 87u);
  EXPECT_EQ(DatasourceKeyPath(u"d", u"").code(), 87u);
  EXPECT_EQ(DatasourceKeyPath(u"a\\b", u"u").code(), 87u);

  EXPECT_EQ(PolicyKeyPath(kSiteLock),
            u"SOFTWARE\\Policies\\Tarnholt\\Quillstone Web Client\\SiteLock");
}

TEST_F(RegValuesTest, ReadRegValueGivesRawDataAndTwoWhenAbsent) {
  SettingsKey key = UserKey();
  EXPECT_EQ(ReadRegValue(key, kUserWorkDir).code(), 2u);
  ASSERT_TRUE(key.Set(kUserWorkDir, platform::kRegSz, {}).ok());
  auto empty = ReadRegValue(key, u"userworkdir");
  ASSERT_TRUE(empty.ok());
  EXPECT_TRUE(empty->empty());  // zero bytes: "not set" to its readers, but a successful read
  ASSERT_TRUE(key.Set(kUserWorkDir, platform::kRegExpandSz, SzData(u"/w")).ok());
  auto data = ReadRegValue(key, kUserWorkDir);
  ASSERT_TRUE(data.ok());
  EXPECT_EQ(*data, SzData(u"/w"));
}

TEST_F(RegValuesTest, MultiSzContains) {
  SettingsKey key = UserKey();
  EXPECT_EQ(MultiSzContains(key, kAllowedSites, u"").code(), 87u);
  EXPECT_EQ(MultiSzContains(key, u"", u"host").code(), 87u);
  EXPECT_EQ(MultiSzContains(key, kAllowedSites, u"host").code(), 2u);

  ASSERT_TRUE(
      key.Set(kAllowedSites, platform::kRegMultiSz, Multi({u"Intranet.Example", u"docs.example"}))
          .ok());
  struct Case {
    std::u16string host;
    bool found;
  };
  const Case cases[] = {
      {u"intranet.example", true},                          // differs only in case
      {u"DOCS.EXAMPLE", true},       {u"intranet", false},  // a prefix is not the entry
      {u"docs.example.evil", false}, {u"other.example", false},
  };
  for (const auto& c : cases) {
    auto found = MultiSzContains(key, kAllowedSites, c.host);
    ASSERT_TRUE(found.ok());
    EXPECT_EQ(*found, c.found) << ToUtf8(c.host);
  }
}

TEST_F(RegValuesTest, AllowedSitesOfAnotherTypeIsNotFoundThenReplaced) {
  SettingsKey key = UserKey();
  ASSERT_TRUE(key.Set(kAllowedSites, platform::kRegSz, SzData(u"host.example")).ok());
  auto found = MultiSzContains(key, kAllowedSites, u"host.example");
  ASSERT_TRUE(found.ok());
  EXPECT_FALSE(*found);

  ASSERT_TRUE(MultiSzAppend(key, kAllowedSites, u"new.example").ok());
  auto value = key.Query(kAllowedSites);
  ASSERT_TRUE(value.ok());
  EXPECT_EQ(value->type, platform::kRegMultiSz);
  EXPECT_EQ(value->data, Multi({u"new.example"}));
}

TEST_F(RegValuesTest, MultiSzAppendKeepsTheLayout) {
  SettingsKey key = UserKey();
  EXPECT_EQ(MultiSzAppend(key, kAllowedSites, u"").code(), 87u);
  EXPECT_EQ(key.Query(kAllowedSites).code(), 2u);

  ASSERT_TRUE(MultiSzAppend(key, kAllowedSites, u"a.example").ok());
  EXPECT_EQ(key.Query(kAllowedSites)->data, Multi({u"a.example"}));
  ASSERT_TRUE(MultiSzAppend(key, u"ALLOWEDSITES", u"b.example").ok());
  ASSERT_TRUE(MultiSzAppend(key, kAllowedSites, u"a.example").ok());  // no duplicate check
  EXPECT_EQ(key.Query(kAllowedSites)->data, Multi({u"a.example", u"b.example", u"a.example"}));

  // Empty lists in both spellings take the new entry as their first.
  for (const auto& empty : {Bytes({}), Bytes({0, 0})}) {
    ASSERT_TRUE(key.Set(u"List", platform::kRegMultiSz, empty).ok());
    ASSERT_TRUE(MultiSzAppend(key, u"List", u"x").ok());
    EXPECT_EQ(key.Query(u"List")->data, Multi({u"x"}));
  }
  // A list whose last entry lacks the final NUL keeps that entry whole.
  ASSERT_TRUE(key.Set(u"List", platform::kRegMultiSz, Bytes({'a', 0, 0, 0})).ok());
  ASSERT_TRUE(MultiSzAppend(key, u"List", u"x").ok());
  EXPECT_EQ(key.Query(u"List")->data, Multi({u"a", u"x"}));
}

TEST_F(RegValuesTest, MultiSzAppendOnDeletedKeyFailsAndWritesNothing) {
  SettingsKey key = UserKey();
  ASSERT_TRUE(platform::DeleteSettingsKey(key.path()).ok());
  EXPECT_EQ(MultiSzAppend(key, kAllowedSites, u"a").code(), 1018u);
  EXPECT_EQ(SettingsKey::Open(key.path()).code(), 2u);
}

TEST_F(RegValuesTest, NumberedListStopsAtTheFirstGapOrEmptyValue) {
  const std::u16string path = PolicyKeyPath(kSiteLock);
  EXPECT_TRUE(ReadNumberedList(path).empty());  // absent key: no entries

  auto key = SettingsKey::Create(path);
  ASSERT_TRUE(key.ok());
  ASSERT_TRUE(key->Set(u"1", platform::kRegSz, SzData(u"https://one.example")).ok());
  ASSERT_TRUE(key->Set(u"4", platform::kRegSz, SzData(u"four.example")).ok());
  ASSERT_TRUE(key->Set(u"2", platform::kRegExpandSz, SzData(u"two.example")).ok());  // any type
  ASSERT_TRUE(key->Set(u"01", platform::kRegSz, SzData(u"leading zero")).ok());
  EXPECT_EQ(ReadNumberedList(path),
            (std::vector<std::u16string>{u"https://one.example", u"two.example"}));

  ASSERT_TRUE(key->Set(u"3", platform::kRegSz, {}).ok());
  ASSERT_TRUE(key->Set(u"2", platform::kRegSz, {}).ok());
  EXPECT_EQ(ReadNumberedList(path), std::vector<std::u16string>{u"https://one.example"});
}

TEST_F(RegValuesTest, DwordIsReadIntoFourZeroedBytes) {
  auto key = SettingsKey::Create(PolicyKeyPath(kZoneLock));
  ASSERT_TRUE(key.ok());
  EXPECT_EQ(ReadTrustedZoneDisabled(), std::nullopt);
  struct Case {
    const char* what;
    uint32_t type;
    std::vector<uint8_t> data;
    std::optional<uint32_t> read;
  };
  const Case cases[] = {
      {"dword 1", platform::kRegDword, Bytes({1, 0, 0, 0}), 1u},
      {"dword 2", platform::kRegDword, Bytes({2, 0, 0, 0}), 2u},
      {"one byte", platform::kRegBinary, Bytes({1}), 1u},
      {"two bytes", platform::kRegBinary, Bytes({0x01, 0x02}), 0x0201u},
      {"zero bytes", platform::kRegDword, {}, 0u},
      {"string \"1\"", platform::kRegSz, SzData(u"1"), 0x31u},
      {"longer data", platform::kRegBinary, Bytes({1, 0, 0, 0, 0}), std::nullopt},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(key->Set(kTrustedZoneDisabled, c.type, c.data).ok());
    EXPECT_EQ(ReadTrustedZoneDisabled(), c.read) << c.what;
  }
}

// Two processes appending to the same list at once: every append survives.
TEST_F(RegValuesTest, ConcurrentAppendsFromTwoProcessesLoseNothing) {
  constexpr int kAppendsEach = 50;
  SettingsKey key = UserKey();
  const std::u16string path = key.path();

  auto append_all = [&path](char16_t tag) {
    auto k = SettingsKey::Open(path);
    if (!k.ok()) return false;
    for (int i = 0; i < kAppendsEach; ++i) {
      std::u16string site = {tag, u'-'};
      site += FromAscii(std::to_string(i));
      if (!MultiSzAppend(*k, kAllowedSites, site).ok()) return false;
    }
    return true;
  };

  const pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) _exit(append_all(u'c') ? 0 : 1);
  const bool parent_ok = append_all(u'p');
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(parent_ok);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);

  auto value = key.Query(kAllowedSites);
  ASSERT_TRUE(value.ok());
  const auto entries = ParseMultiSz(value->data);
  EXPECT_EQ(entries.size(), 2u * kAppendsEach);
  for (char16_t tag : {u'c', u'p'}) {
    for (int i = 0; i < kAppendsEach; ++i) {
      std::u16string site = {tag, u'-'};
      site += FromAscii(std::to_string(i));
      auto found = MultiSzContains(key, kAllowedSites, site);
      EXPECT_TRUE(found.ok() && *found) << ToUtf8(site);
    }
  }
}

}  // namespace
}  // namespace qs
