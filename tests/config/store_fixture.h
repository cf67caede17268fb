// A fresh, private settings store for one test: XDG_CONFIG_HOME points into a temporary
// directory for the test's duration.
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <vector>

#include <gtest/gtest.h>

#include "platform/settings_store.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace qs::testing {

class StoreTest : public ::testing::Test {
 protected:
  std::filesystem::path StoreFile() const { return dir_.path() / "config/quillstone/registry.db"; }

  TempDir dir_;

 private:
  ScopedEnv config_{"XDG_CONFIG_HOME", (dir_.path() / "config").string()};
};

inline std::vector<uint8_t> Bytes(std::initializer_list<int> list) {
  std::vector<uint8_t> out;
  for (int b : list) out.push_back(static_cast<uint8_t>(b));
  return out;
}

}  // namespace qs::testing
