// A fresh, private settings store for one test: XDG_CONFIG_HOME points into a temporary
// directory for the test's duration.
#pragma once

#include <stdlib.h>

#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "platform/settings_store.h"
#include "support/temp_dir.h"

namespace qs::testing {

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = getenv("XDG_CONFIG_HOME")) saved_ = old;
    setenv("XDG_CONFIG_HOME", (dir_.path() / "config").c_str(), 1);
  }
  void TearDown() override {
    if (saved_) {
      setenv("XDG_CONFIG_HOME", saved_->c_str(), 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
  }

  std::filesystem::path StoreFile() const { return dir_.path() / "config/quillstone/registry.db"; }

  TempDir dir_;

 private:
  std::optional<std::string> saved_;
};

inline std::vector<uint8_t> Bytes(std::initializer_list<int> list) {
  std::vector<uint8_t> out;
  for (int b : list) out.push_back(static_cast<uint8_t>(b));
  return out;
}

}  // namespace qs::testing
