#include "platform/settings_store.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <optional>

#include "base/text.h"
#include "config/reg_values.h"
#include "config/store_fixture.h"
#include "support/child_process.h"

namespace qs {
namespace {

using platform::SettingsKey;
using testing::Bytes;

class SettingsStoreTest : public testing::StoreTest {
 protected:
  // Runs SQL on the store file with the sqlite3 shell; its output.
  std::string Sql(const std::string& script) {
    testing::ChildProcess shell({"/usr/bin/sqlite3", "-batch", StoreFile().string()}, {});
    shell.Write(script);
    EXPECT_EQ(shell.Finish(), 0) << shell.err();
    return shell.out();
  }

  // A store as earlier versions wrote it: every key by its whole folded path.
  void WriteLayout0Store() {
    std::filesystem::create_directories(StoreFile().parent_path());
    Sql("PRAGMA journal_mode=WAL;\n"
        "CREATE TABLE keys(fold TEXT PRIMARY KEY, parent TEXT NOT NULL, name TEXT NOT NULL)"
        " WITHOUT ROWID;\n"
        "CREATE INDEX keys_by_parent ON keys(parent);\n"
        "CREATE TABLE vals(id INTEGER PRIMARY KEY, key TEXT NOT NULL, fold TEXT NOT NULL,"
        " name TEXT NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL, UNIQUE(key, fold));\n"
        "INSERT INTO keys VALUES('SOFTWARE', '', 'Software'),"
        " ('SOFTWARE\\TARNHOLT', 'SOFTWARE', 'Tarnholt'),"
        " ('SOFTWARE\\TARNHOLT2', 'SOFTWARE', 'tarnholt2'),"
        " ('SOFTWARE\\TARNHOLT\\\xC3\x9C\x42\x45R', 'SOFTWARE\\TARNHOLT', '\xC3\x9C\x62\x65r');\n"
        "INSERT INTO vals VALUES(1, '', 'TOP', 'Top', 1, X'61000000'),"
        " (2, 'SOFTWARE\\TARNHOLT', 'B', 'b', 4, X'01000000'),"
        " (3, 'SOFTWARE\\TARNHOLT', 'A', 'A', 3, X''),"
        " (4, 'SOFTWARE\\TARNHOLT\\\xC3\x9C\x42\x45R', '', '', 1, X'7a000000');\n"
        "PRAGMA application_id=1364415047;\n");
  }

  // Every key and value of the store WriteLayout0Store writes.
  void ExpectLayout0Contents() {
    auto top = SettingsKey::Open(u"");
    ASSERT_TRUE(top.ok());
    auto hive_value = top->Query(u"top");
    ASSERT_TRUE(hive_value.ok()) << hive_value.code();
    EXPECT_EQ(TextFromData(hive_value->data), u"a");
    auto software = SettingsKey::Open(u"SOFTWARE");
    ASSERT_TRUE(software.ok());
    EXPECT_EQ(software->SubKeys().value(),
              (std::vector<std::u16string>{u"Tarnholt", u"tarnholt2"}));
    auto deep = SettingsKey::Open(u"software\\tarnholt\\\u00fcber");
    ASSERT_TRUE(deep.ok()) << deep.code();
    EXPECT_EQ(deep->path(), u"Software\\Tarnholt\\\u00dcber");
    EXPECT_EQ(TextFromData(deep->Query(u"").value().data), u"z");
    auto values = SettingsKey::Open(u"Software\\Tarnholt").value().Values();
    ASSERT_TRUE(values.ok());
    ASSERT_EQ(values->size(), 2u);
    EXPECT_EQ((*values)[0].name, u"b");  // in the order first written
    EXPECT_EQ((*values)[0].value.type, platform::kRegDword);
    EXPECT_EQ((*values)[1].name, u"A");
    EXPECT_TRUE((*values)[1].value.data.empty());
    EXPECT_EQ(SettingsKey::Open(u"Software\\Tarnholt").value().SubKeys().value(),
              std::vector<std::u16string>{u"\u00dcber"});
  }
};

TEST_F(SettingsStoreTest, AbsentStoreReadsEmptyAndIsNotCreatedByReads) {
  EXPECT_EQ(SettingsKey::Open(u"SOFTWARE\\X").code(), 2u);
  auto hive = SettingsKey::Open(u"");
  ASSERT_TRUE(hive.ok());
  EXPECT_EQ(hive->Query(u"v").code(), 2u);
  EXPECT_TRUE(hive->SubKeys().ok() && hive->SubKeys()->empty());
  EXPECT_FALSE(std::filesystem::exists(StoreFile()));
}

TEST_F(SettingsStoreTest, KeyAndValueNamesIgnoreCaseAndKeepTheirFirstSpelling) {
  auto key = SettingsKey::Create(u"Software\\Tarnholt\\Test");
  ASSERT_TRUE(key.ok());
  ASSERT_TRUE(key->Set(u"MyValue", platform::kRegSz, SzData(u"one")).ok());

  auto again = SettingsKey::Open(u"SOFTWARE\\TARNHOLT\\test");
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(again->path(), u"Software\\Tarnholt\\Test");  // as first written
  auto v = again->Query(u"myvalue");
  ASSERT_TRUE(v.ok());
  EXPECT_EQ(TextFromData(v->data), u"one");

  // Replacing through another spelling keeps the original name and the value's place.
  ASSERT_TRUE(again->Set(u"MYVALUE", platform::kRegDword, Bytes({1, 0, 0, 0})).ok());
  auto values = key->Values();
  ASSERT_TRUE(values.ok());
  ASSERT_EQ(values->size(), 1u);
  EXPECT_EQ((*values)[0].name, u"MyValue");
  EXPECT_EQ((*values)[0].value.type, platform::kRegDword);

  auto parent = SettingsKey::Open(u"software\\tarnholt");
  ASSERT_TRUE(parent.ok());
  auto subkeys = parent->SubKeys();
  ASSERT_TRUE(subkeys.ok());
  EXPECT_EQ(*subkeys, std::vector<std::u16string>{u"Test"});
}

TEST_F(SettingsStoreTest, DataIsKeptByteForByteIncludingZeroLength) {
  auto key = SettingsKey::Create(u"K");
  ASSERT_TRUE(key.ok());
  const std::vector<uint8_t> odd = Bytes({0x41, 0, 0, 0, 0xFF});
  ASSERT_TRUE(key->Set(u"empty", platform::kRegSz, {}).ok());
  ASSERT_TRUE(key->Set(u"odd", 11, odd).ok());

  auto info = key->QueryInfo(u"empty");
  ASSERT_TRUE(info.ok());
  EXPECT_EQ(info->type, platform::kRegSz);
  EXPECT_EQ(info->size, 0u);

  auto v = key->Query(u"odd");
  ASSERT_TRUE(v.ok());
  EXPECT_EQ(v->type, 11u);
  EXPECT_EQ(v->data, odd);

  std::vector<uint8_t> small(4);
  EXPECT_EQ(key->QueryData(u"odd", small).code(), 234u);
  std::vector<uint8_t> enough(8);
  auto n = key->QueryData(u"odd", enough);
  ASSERT_TRUE(n.ok());
  EXPECT_EQ(*n, 5u);
}

TEST_F(SettingsStoreTest, MalformedPathsAndNamesAreInvalidParameters) {
  for (std::u16string_view bad : {u"\\A", u"A\\", u"A\\\\B"}) {
    EXPECT_EQ(SettingsKey::Create(bad).code(), 87u) << ToUtf8(bad);
    EXPECT_EQ(SettingsKey::Open(bad).code(), 87u) << ToUtf8(bad);
  }
  EXPECT_EQ(SettingsKey::Create(std::u16string(256, u'k')).code(), 87u);
  EXPECT_TRUE(SettingsKey::Create(std::u16string(255, u'k')).ok());
  EXPECT_EQ(platform::DeleteSettingsKey(u"").code(), 87u);
}

TEST_F(SettingsStoreTest, DeleteKeyRemovesTheSubtreeOnly) {
  ASSERT_TRUE(SettingsKey::Create(u"A\\B\\C").ok());
  ASSERT_TRUE(SettingsKey::Create(u"A\\B2").ok());
  auto b = SettingsKey::Open(u"A\\B");
  ASSERT_TRUE(b.ok());
  ASSERT_TRUE(b->Set(u"v", platform::kRegSz, SzData(u"x")).ok());
  auto b2 = SettingsKey::Open(u"a\\b2");
  ASSERT_TRUE(b2->Set(u"v", platform::kRegSz, SzData(u"kept")).ok());

  ASSERT_TRUE(platform::DeleteSettingsKey(u"a\\b").ok());
  EXPECT_EQ(SettingsKey::Open(u"A\\B").code(), 2u);
  EXPECT_EQ(SettingsKey::Open(u"A\\B\\C").code(), 2u);
  EXPECT_EQ(platform::DeleteSettingsKey(u"A\\B").code(), 2u);
  // A sibling whose name merely begins with the deleted key's name survives.
  EXPECT_TRUE(b2->Query(u"v").ok());
  // The stale handle now addresses a deleted key.
  EXPECT_EQ(b->Set(u"v", platform::kRegSz, SzData(u"y")).code(), 1018u);
  // Recreating the key does not bring back its old values.
  auto fresh = SettingsKey::Create(u"A\\B");
  ASSERT_TRUE(fresh.ok());
  EXPECT_EQ(fresh->Query(u"v").code(), 2u);
}

TEST_F(SettingsStoreTest, DeleteValueAndUpdate) {
  auto key = SettingsKey::Create(u"K");
  ASSERT_TRUE(key.ok());
  EXPECT_EQ(key->DeleteValue(u"v").code(), 2u);
  ASSERT_TRUE(key->Set(u"v", platform::kRegSz, SzData(u"a")).ok());
  ASSERT_TRUE(key->DeleteValue(u"V").ok());
  EXPECT_EQ(key->Query(u"v").code(), 2u);

  // An update that fails writes nothing and reports its own status.
  auto refused = key->Update(
      u"v", [](const std::optional<platform::RegValue>& current) -> ErrorOr<platform::RegValue> {
        EXPECT_FALSE(current.has_value());
        return ErrorCode::kAccessDenied;
      });
  EXPECT_EQ(refused.code(), 5u);
  EXPECT_EQ(key->Query(u"v").code(), 2u);
}

TEST_F(SettingsStoreTest, BatchIsAllOrNothing) {
  ASSERT_TRUE(SettingsKey::Create(u"Keep").ok());
  std::vector<platform::SettingsOp> ops(3);
  ops[0] = {platform::SettingsOp::Kind::kDeleteKey, u"Keep", {}, {}};
  ops[1] = {platform::SettingsOp::Kind::kSetValue, u"New", u"v", {platform::kRegSz, SzData(u"x")}};
  ops[2] = {platform::SettingsOp::Kind::kCreateKey, u"Bad\\\\Path", {}, {}};
  EXPECT_EQ(platform::ApplySettingsBatch(ops).code(), 87u);
  EXPECT_TRUE(SettingsKey::Open(u"Keep").ok());
  EXPECT_EQ(SettingsKey::Open(u"New").code(), 2u);

  ops.pop_back();
  ASSERT_TRUE(platform::ApplySettingsBatch(ops).ok());
  EXPECT_EQ(SettingsKey::Open(u"Keep").code(), 2u);
  EXPECT_TRUE(SettingsKey::Open(u"New").ok());
}

TEST_F(SettingsStoreTest, AStoreOfTheEarlierLayoutIsRewrittenOnceAndKeepsEverything) {
  WriteLayout0Store();
  ExpectLayout0Contents();
  EXPECT_EQ(Sql("PRAGMA user_version;\nSELECT count(*) FROM sqlite_master WHERE name IN"
                " ('keys', 'vals');\n"),
            "1\n0\n");
  ExpectLayout0Contents();  // and reads the same in the new layout

  // The rewritten store takes writes, deletes subtrees, and recreates keys.
  ASSERT_TRUE(platform::DeleteSettingsKey(u"Software\\Tarnholt").ok());
  EXPECT_EQ(SettingsKey::Open(u"Software\\Tarnholt\\\u00dcber").code(), 2u);
  EXPECT_EQ(SettingsKey::Open(u"Software").value().SubKeys().value(),
            std::vector<std::u16string>{u"tarnholt2"});
  EXPECT_EQ(Sql("SELECT count(*) FROM key_values;\n"), "1\n");
  ASSERT_TRUE(SettingsKey::Create(u"Software\\Tarnholt\\New").ok());
  EXPECT_EQ(SettingsKey::Open(u"software\\tarnholt").value().Values().value().size(), 0u);
}

TEST_F(SettingsStoreTest, AStoreOfTheEarlierLayoutThatCannotBeWrittenIsStillRead) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  WriteLayout0Store();
  std::filesystem::permissions(StoreFile(), std::filesystem::perms::owner_read);
  ExpectLayout0Contents();
  EXPECT_NE(SettingsKey::Create(u"X").code(), 0u);
  EXPECT_EQ(Sql("PRAGMA user_version;\n"), "0\n");
}

// The deepest key with the longest names: the store holds each name once, not every path that
// leads to it.
TEST_F(SettingsStoreTest, DepthCostsLinearSpace) {
  std::u16string deep;
  for (size_t i = 0; i < platform::kMaxKeyDepth; ++i) {
    if (!deep.empty()) deep += u'\\';
    deep += std::u16string(platform::kMaxKeyNameLength, static_cast<char16_t>(u'a' + i % 26));
  }
  auto key = SettingsKey::Create(deep);
  ASSERT_TRUE(key.ok()) << key.code();
  ASSERT_TRUE(key->Set(u"v", platform::kRegDword, Bytes({1, 0, 0, 0})).ok());
  EXPECT_TRUE(SettingsKey::Open(deep).ok());
  // 512 names of 255 characters are 130 KB; every path to the deepest key would be 33 MB.
  std::error_code ec;
  const auto wal = std::filesystem::file_size(StoreFile().string() + "-wal", ec);
  EXPECT_LT(std::filesystem::file_size(StoreFile()) + (ec ? 0 : wal), 2u << 20);
  ASSERT_TRUE(platform::DeleteSettingsKey(deep.substr(0, platform::kMaxKeyNameLength)).ok());
  EXPECT_EQ(Sql("SELECT count(*) FROM key_nodes;\nSELECT count(*) FROM key_values;\n"), "0\n0\n");
}

TEST_F(SettingsStoreTest, EnvironmentIsReadAtEveryOpen) {
  ASSERT_TRUE(SettingsKey::Create(u"OnlyInFirst").ok());
  testing::TempDir other;
  setenv("XDG_CONFIG_HOME", other.path().c_str(), 1);
  EXPECT_EQ(SettingsKey::Open(u"OnlyInFirst").code(), 2u);
  EXPECT_EQ(platform::SettingsStorePath(), (other.path() / "quillstone/registry.db").string());
}

// A store file that is damaged, or is some other program's database, reads as empty, refuses
// every write, and is left exactly as it was.
TEST_F(SettingsStoreTest, UnusableStoreReadsEmptyRefusesWritesAndStaysUntouched) {
  struct Case {
    const char* what;
    std::string bytes;
  };
  std::string foreign;
  {
    // Make a valid store, then turn it into someone else's database: a different application id.
    ASSERT_TRUE(SettingsKey::Create(u"A").ok());
    foreign = testing::ReadFile(StoreFile());
    std::filesystem::remove_all(StoreFile().parent_path());
    ASSERT_GE(foreign.size(), 72u);
    foreign[68] = 'X';  // application id lives at offset 68 of the header
  }
  std::string garbage(4096, '\0');
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>(i * 7 + 3);
  const Case cases[] = {
      {"garbage", garbage},
      {"truncated header", std::string("SQLite format 3\0\x10\x00", 18)},
      {"foreign database", foreign},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(StoreFile().parent_path());
    testing::WriteFile(StoreFile(), c.bytes);

    EXPECT_EQ(SettingsKey::Open(u"A").code(), 2u);
    auto hive = SettingsKey::Open(u"");
    ASSERT_TRUE(hive.ok());
    EXPECT_EQ(hive->Query(u"x").code(), 2u);
    auto sub = hive->SubKeys();
    EXPECT_TRUE(sub.ok() && sub->empty());

    const uint32_t refused = SettingsKey::Create(u"A").code();
    EXPECT_TRUE(refused == 1015u) << refused;
    EXPECT_EQ(hive->Set(u"x", platform::kRegSz, SzData(u"y")).code(), refused);
    EXPECT_NE(platform::ApplySettingsBatch({}).code(), 0u);
    EXPECT_EQ(testing::ReadFile(StoreFile()), c.bytes);
  }
}

// A store that cannot be opened at all: its file is a directory, or its folder cannot be made.
TEST_F(SettingsStoreTest, UnopenableStoreReadsEmptyAndRefusesWritesWithAccessDenied) {
  std::filesystem::create_directories(StoreFile());
  EXPECT_EQ(SettingsKey::Create(u"A").code(), 5u);
  EXPECT_EQ(SettingsKey::Open(u"A").code(), 2u);
  EXPECT_TRUE(std::filesystem::is_directory(StoreFile()));

  testing::WriteFile(dir_.path() / "plain-file", "x");
  setenv("XDG_CONFIG_HOME", (dir_.path() / "plain-file").c_str(), 1);
  EXPECT_EQ(SettingsKey::Create(u"A").code(), 5u);
  EXPECT_EQ(SettingsKey::Open(u"A").code(), 2u);
  EXPECT_EQ(testing::ReadFile(dir_.path() / "plain-file"), "x");
}

TEST_F(SettingsStoreTest, UnwritableConfigDirectoryRefusesWritesWithAccessDenied) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  std::filesystem::create_directories(dir_.path() / "config");
  std::filesystem::permissions(dir_.path() / "config", std::filesystem::perms::owner_read |
                                                           std::filesystem::perms::owner_exec);
  EXPECT_EQ(SettingsKey::Create(u"A").code(), 5u);
  EXPECT_EQ(SettingsKey::Open(u"A").code(), 2u);
}

}  // namespace
}  // namespace qs
