// A private world for working-directory tests: the settings store and the local
// application-data folder both live in a temporary directory, and dialogs are scripted.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/text.h"
#include "config/reg_values.h"
#include "config/store_layout.h"
#include "dialogs/scripted_dialogs.h"
#include "platform/settings_store.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "workdir/work_dir.h"

namespace qs::testing {

class WorkDirTest : public ::testing::Test {
 protected:
  WorkDirTest()
      : config_("XDG_CONFIG_HOME", (dir_.path() / "config").string()),
        data_("XDG_DATA_HOME", (dir_.path() / "data").string()) {}

  // The built-in safe location of datasource `ds` in this test's world.
  std::string SafeDir(const std::string& ds) const {
    return (dir_.path() / "data/Quillstone/WebWorkDir" / ds).string();
  }
  std::u16string KeyPath(std::u16string_view ds = u"DS1", std::u16string_view user = u"alice") {
    return DatasourceKeyPath(ds, user).value();
  }

  // Resolves with the fixture's dialogs for the page at `url`.
  std::u16string Resolve(WorkDirMode mode, std::u16string_view ds = u"DS1",
                         std::u16string_view user = u"alice",
                         std::optional<std::u16string> url = u"https://docs.example.com:8443/wc/") {
    WorkDirContext context;
    context.datasource = ds;
    context.user = user;
    context.page_url = std::move(url);
    context.dialogs = &dialogs_;
    context.picker_title = [] { return std::u16string(u"Select a Working Directory"); };
    return ResolveWorkDir(context, user_work_dir_, mode);
  }

  // Stored values of the pair's key; nothing when the key or value is absent.
  std::optional<platform::RegValue> Stored(std::u16string_view name,
                                           std::u16string_view ds = u"DS1") {
    auto key = platform::SettingsKey::Open(KeyPath(ds));
    if (!key.ok()) return std::nullopt;
    auto value = key->Query(name);
    if (!value.ok()) return std::nullopt;
    return std::move(value).value();
  }
  std::optional<std::string> StoredDir(std::u16string_view ds = u"DS1") {
    auto value = Stored(kUserWorkDir, ds);
    if (!value) return std::nullopt;
    return ToUtf8(TextFromData(value->data));
  }
  std::vector<std::string> StoredSites(std::u16string_view ds = u"DS1") {
    std::vector<std::string> sites;
    if (auto value = Stored(kAllowedSites, ds)) {
      for (const auto& site : ParseMultiSz(value->data)) sites.push_back(ToUtf8(site));
    }
    return sites;
  }
  bool KeyExists(std::u16string_view ds = u"DS1") {
    return platform::SettingsKey::Open(KeyPath(ds)).ok();
  }

  // Writes the pair's settings as an earlier session would have left them.
  void StoreSettings(const std::string& dir, const std::vector<std::u16string>* sites,
                     uint32_t dir_type = platform::kRegSz) {
    auto key = platform::SettingsKey::Create(KeyPath()).value();
    ASSERT_TRUE(key.Set(kUserWorkDir, dir_type, SzData(FromUtf8(dir))).ok());
    if (sites != nullptr) {
      ASSERT_TRUE(key.Set(kAllowedSites, platform::kRegMultiSz, MultiSzData(*sites)).ok());
    }
  }

  TempDir dir_;
  ScopedEnv config_;
  ScopedEnv data_;
  platform::ScriptedDialogs dialogs_;
  std::u16string user_work_dir_;  // the UserWorkDir property
};

}  // namespace qs::testing
