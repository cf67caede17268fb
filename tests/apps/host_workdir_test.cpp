// The working-directory methods driven by `qsft host` scripts, in a private settings store and
// application-data folder. Each scenario runs in the host session in-process and, where the
// built program is known (CTest sets QSFT_BIN_DIR), through the program itself as well.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "base/text.h"
#include "config/reg_values.h"
#include "config/store_layout.h"
#include "platform/settings_store.h"
#include "qsft/host.h"
#include "support/child_process.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace qs::app {
namespace {

namespace fs = std::filesystem;
using qs::testing::ScopedEnv;

constexpr const char* kTemplate = R"(%LocalAppData%\\Quillstone\\WebWorkDir\\%Datasource%)";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> RunInProcess(const std::string& script) {
  std::istringstream in(script);
  std::ostringstream out;
  std::ostringstream diag;
  EXPECT_EQ(RunHost(in, out, diag, HostOptions{}), 0) << diag.str();
  return Lines(out.str());
}

// Runs `qsft host` with the script as its input; nothing when the program is unknown.
std::optional<std::vector<std::string>> RunProgram(const std::string& script) {
  const char* bin = getenv("QSFT_BIN_DIR");
  if (bin == nullptr) return std::nullopt;
  const std::string program = std::string(bin) + "/qsft";
  testing::ChildProcess host({program, "host", "--dialogs=script"}, {}, {.err_to_ours = true});
  if (!host.started()) {
    ADD_FAILURE() << "cannot start " << program;
    return std::vector<std::string>{};
  }
  host.Write(script);
  // Bounded: a host that does not end by itself is killed and the test fails.
  EXPECT_EQ(host.Finish(60000), 0) << "qsft host failed or did not end";
  return Lines(host.out());
}

class HostWorkDirTest : public ::testing::Test {
 protected:
  // A fresh world for each run: store and application data in their own folder.
  struct World {
    testing::TempDir dir;
    ScopedEnv config{"XDG_CONFIG_HOME", (dir.path() / "config").string()};
    ScopedEnv data{"XDG_DATA_HOME", (dir.path() / "data").string()};
    std::string SafeDir(const std::string& ds) const {
      return (dir.path() / "data/Quillstone/WebWorkDir" / ds).string();
    }
  };

  static std::string Create(const std::string& ds) {
    return R"({"id":"create","op":"create","control":"c","page":"https://dms.example.test/app/page","zone":3,)"
           R"("props":{"DatasourceName":")" +
           ds + R"(","User":"alice","UserWorkDir":")" + kTemplate + R"("}})";
  }
  static std::string Call(const std::string& id, const std::string& method) {
    return R"({"id":")" + id + R"(","op":"call","control":"c","name":")" + method + R"("})";
  }
  static std::string GetWorkDir(const std::string& id) {
    return R"({"id":")" + id + R"(","op":"get","control":"c","name":"UserWorkDir"})";
  }
  static std::string Result(const std::string& id, const std::string& json) {
    return R"({"id":")" + id + R"(","result":)" + json + "}";
  }
  static std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

  static std::optional<std::string> StoredDir(const std::string& ds) {
    auto key = platform::SettingsKey::Open(DatasourceKeyPath(FromUtf8(ds), u"alice").value());
    if (!key.ok()) return std::nullopt;
    auto data = ReadRegValue(*key, kUserWorkDir);
    if (!data.ok()) return std::nullopt;
    return ToUtf8(TextFromData(*data));
  }
  static void StoreFor(const std::string& ds, const std::string& dir, std::u16string_view site) {
    auto key = platform::SettingsKey::Create(DatasourceKeyPath(FromUtf8(ds), u"alice").value());
    ASSERT_TRUE(key.ok());
    ASSERT_TRUE(key->Set(kUserWorkDir, platform::kRegSz, SzData(FromUtf8(dir))).ok());
    ASSERT_TRUE(MultiSzAppend(*key, kAllowedSites, site).ok());
  }

  // Runs `scenario` (which builds its world, gives the script and the expected answers, and
  // checks the world afterwards) in-process and through the program.
  template <typename Scenario>
  void RunBothWays(Scenario scenario) {
    {
      SCOPED_TRACE("in-process");
      World world;
      scenario(world, [](const std::string& script) { return RunInProcess(script); });
    }
    if (getenv("QSFT_BIN_DIR") == nullptr) return;
    SCOPED_TRACE("qsft host program");
    World world;
    scenario(world, [](const std::string& script) { return *RunProgram(script); });
  }
};

TEST_F(HostWorkDirTest, CheckForANewPairCreatesTheSafeDefaultAndStoresIt) {
  RunBothWays([&](World& w, auto run) {
    const auto answers = run(Create("DS1") + "\n" + Call("check", "CheckWorkDir") + "\n" +
                             GetWorkDir("dir") + "\n" + R"({"id":"shown","op":"shown"})" + "\n");
    EXPECT_EQ(answers, (std::vector<std::string>{Result("create", "null"), Result("check", "true"),
                                                 Result("dir", Quoted(w.SafeDir("DS1"))),
                                                 Result("shown", "[]")}));
    EXPECT_TRUE(fs::is_directory(w.SafeDir("DS1")));
    EXPECT_EQ(StoredDir("DS1"), w.SafeDir("DS1"));
  });
}

TEST_F(HostWorkDirTest, ChooseForAPairOfAnotherSiteShowsThePickerOnTheDefault) {
  RunBothWays([&](World& w, auto run) {
    const std::string theirs = (w.dir.path() / "theirs").string();
    const std::string picked = (w.dir.path() / "picked").string();
    fs::create_directories(theirs);
    fs::create_directories(w.SafeDir("DS1"));
    StoreFor("DS1", theirs, u"other.example.test");
    const auto answers =
        run(Create("DS1") + "\n" + R"({"id":"queue","op":"dialogs","answers":[{"folder":")" +
            picked + R"("}]})" + "\n" + Call("choose", "ChooseWorkDir") + "\n" +
            R"({"id":"shown","op":"shown"})" + "\n" + GetWorkDir("dir") + "\n");
    EXPECT_EQ(
        answers,
        (std::vector<std::string>{
            Result("create", "null"), Result("queue", "null"), Result("choose", "true"),
            Result("shown", R"([{"kind":"folder","title":"Select a Working Directory","start":")" +
                                w.SafeDir("DS1") + R"("}])"),
            Result("dir", Quoted(picked))}));
    EXPECT_EQ(StoredDir("DS1"), picked);
  });
}

TEST_F(HostWorkDirTest, ChangeCancelledChangesNothing) {
  RunBothWays([&](World& w, auto run) {
    const std::string mine = (w.dir.path() / "mine").string();
    fs::create_directories(mine);
    StoreFor("DS1", mine, u"dms.example.test");
    const auto answers =
        run(Create("DS1") + "\n" + R"({"id":"queue","op":"dialogs","answers":[{"cancel":true}]})" +
            "\n" + Call("change", "ChangeWorkDir") + "\n" + GetWorkDir("dir") + "\n" +
            R"({"id":"shown","op":"shown"})" + "\n");
    EXPECT_EQ(
        answers,
        (std::vector<std::string>{
            Result("create", "null"), Result("queue", "null"), Result("change", "false"),
            Result("dir", Quoted(kTemplate)),
            Result("shown", R"([{"kind":"folder","title":"Select a Working Directory","start":")" +
                                mine + R"("}])")}));
    EXPECT_EQ(StoredDir("DS1"), mine);
  });
}

TEST_F(HostWorkDirTest, DatasourceWithASeparatorMakesAllThreeFalse) {
  for (const std::string ds : {R"(..\\evil)", "../evil"}) {
    SCOPED_TRACE(ds);
    RunBothWays([&](World& w, auto run) {
      const auto answers =
          run(Create(ds) + "\n" +
              R"({"id":"queue","op":"dialogs","answers":[{"folder":"/"},{"folder":"/"}]})" + "\n" +
              Call("check", "CheckWorkDir") + "\n" + Call("choose", "ChooseWorkDir") + "\n" +
              Call("change", "ChangeWorkDir") + "\n" + R"({"id":"shown","op":"shown"})" + "\n");
      EXPECT_EQ(answers,
                (std::vector<std::string>{Result("create", "null"), Result("queue", "null"),
                                          Result("check", "false"), Result("choose", "false"),
                                          Result("change", "false"), Result("shown", "[]")}));
      EXPECT_FALSE(platform::SettingsKey::Open(kClientKey).ok());
      EXPECT_FALSE(fs::exists(w.dir.path() / "data"));
    });
  }
}

}  // namespace
}  // namespace qs::app
