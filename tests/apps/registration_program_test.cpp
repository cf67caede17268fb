// The built program's identity: the interface description generated beside it from the method
// table, and `qsft register` / `qsft unregister` as an installer runs them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/text.h"
#include "control/method_table.h"
#include "qsft/json.h"
#include "support/temp_dir.h"

namespace qs::app {
namespace {

std::string BinDir() {
  const char* dir = std::getenv("QSFT_BIN_DIR");
  return dir ? dir : "";
}

// Runs a shell command line and gives its standard output and error, and its exit status.
std::string RunCommand(const std::string& command, int* status) {
  std::string output;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return output;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) output.append(buf, n);
  const int raw = pclose(pipe);
  *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return output;
}

const char* TypeName(ValueType type) {
  switch (type) {
    case ValueType::kNone: return "void";
    case ValueType::kString: return "string";
    case ValueType::kBool: return "boolean";
    case ValueType::kUInt32: return "uint32";
    case ValueType::kVariant: return "variant";
  }
  return "?";
}

TEST(RegistrationProgram, InterfaceDescriptionBesideTheProgramListsEveryTableEntry) {
  if (BinDir().empty()) GTEST_SKIP() << "QSFT_BIN_DIR is not set (CTest sets it)";
  const std::string text = qs::testing::ReadFile(BinDir() + "/QSFileTransferLib.json");
  auto parsed = json::Parse(text);
  ASSERT_TRUE(std::holds_alternative<json::Value>(parsed)) << text.substr(0, 200);
  const json::Value& doc = std::get<json::Value>(parsed);
  EXPECT_EQ(
      json::Write(*doc.Find(u"library")),
      R"({"name":"QSFileTransferLib","id":"{6B3F0D28-91E4-4C7D-B25A-F8174C0E93D6}","version":"2.2"})");
  const auto& interfaces = doc.Find(u"interfaces")->as_array();
  ASSERT_EQ(interfaces.size(), 2u);
  EXPECT_EQ(interfaces[0].Find(u"id")->as_string(), u"{C8052E6F-3A71-4D9B-8E4C-5B2A90F1D763}");
  EXPECT_EQ(interfaces[0].Find(u"description")->as_string(),
            u"Dispatch interface for QSFileTransfer Control");
  EXPECT_EQ(interfaces[1].Find(u"id")->as_string(), u"{2D9E6B14-F0A3-47C5-B8D2-91E7C3A05F48}");
  EXPECT_TRUE(interfaces[1].Find(u"members")->as_array().empty());

  const auto& members = interfaces[0].Find(u"members")->as_array();
  const auto entries = MethodTable::Entries();
  ASSERT_EQ(members.size(), entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    const MethodEntry& e = entries[i];
    const json::Value& m = members[i];
    SCOPED_TRACE(ToUtf8(e.name));
    EXPECT_EQ(m.Find(u"dispid")->AsInteger(INT32_MIN, INT32_MAX), e.dispid);
    EXPECT_EQ(m.Find(u"name")->as_string(), e.described_name);
    EXPECT_EQ(m.Find(u"kind")->as_string(), e.is_property() ? u"property" : u"method");
    EXPECT_EQ(ToUtf8(m.Find(u"result")->as_string()), TypeName(e.result));
    const auto& params = m.Find(u"params")->as_array();
    ASSERT_EQ(params.size(), e.params.size());
    for (size_t p = 0; p < params.size(); ++p) {
      EXPECT_EQ(params[p].Find(u"name")->as_string(), e.params[p].name);
      EXPECT_EQ(ToUtf8(params[p].Find(u"type")->as_string()), TypeName(e.params[p].type));
    }
    // The names a host looks up in the description reach the same entry of the table.
    EXPECT_EQ(MethodTable::FindByName(m.Find(u"name")->as_string()), &e);
  }
}

TEST(RegistrationProgram, RegisterWritesTheClassEntriesAndUnregisterRemovesThem) {
  if (BinDir().empty()) GTEST_SKIP() << "QSFT_BIN_DIR is not set (CTest sets it)";
  qs::testing::TempDir dir;
  const std::string qsft = "XDG_CONFIG_HOME='" + dir.path().string() + "' '" + BinDir() + "/qsft'";
  int status = -1;

  std::string out = RunCommand(qsft + " host --version", &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(out.find("not registered; the built-in class serves"), std::string::npos) << out;

  out = RunCommand(qsft + " register --user", &status);
  ASSERT_EQ(status, 0) << out;
  const std::string exported = RunCommand(qsft + " reg export 'Software\\Classes'", &status);
  ASSERT_EQ(status, 0) << exported;
  const std::string program = std::filesystem::canonical(BinDir() + "/qsft").string();
  const std::string ctrl =
      "[HKEY_CURRENT_USER\\Software\\Classes\\CLSID\\{4E7A1C52-0B3D-4F19-A6E8-2C9D71B05F34}";
  for (const std::string& expected : {
           ctrl + "]\n@=\"QSWebFileTransfer Control\"\n",
           ctrl + "\\InprocServer32]\n@=\"" + program + "\"\n\"ThreadingModel\"=\"Apartment\"\n",
           ctrl + "\\MiscStatus\\1]\n@=\"131473\"\n",
           ctrl + "\\ProgID]\n@=\"QSFILETRANSFER.QSWebFileTransferCtrl.2.2\"\n",
           ctrl + "\\TypeLib]\n@=\"{6B3F0D28-91E4-4C7D-B25A-F8174C0E93D6}\"\n",
           std::string("[HKEY_CURRENT_USER\\Software\\Classes\\QSFILETRANSFER."
                       "QSWebFileTransferCtrl.2.2\\CLSID]\n"
                       "@=\"{4E7A1C52-0B3D-4F19-A6E8-2C9D71B05F34}\"\n"),
           std::string("[HKEY_CURRENT_USER\\Software\\Classes\\QSFILETRANSFER."
                       "QSWebFileTransferPropPage.2\\CLSID]\n"
                       "@=\"{A1C94F07-5D2E-4B8A-9F31-E06B2D8C47A9}\"\n"),
           std::string("[HKEY_CURRENT_USER\\Software\\Classes\\TypeLib\\{6B3F0D28-91E4-4C7D-B25A-"
                       "F8174C0E93D6}\\2.2\\0\\linux]\n"
                       "@=\"") +
               std::filesystem::path(program).parent_path().string() +
               "/QSFileTransferLib.json\"\n",
       }) {
    EXPECT_NE(exported.find(expected), std::string::npos) << expected << "\nin:\n" << exported;
  }
  out = RunCommand(qsft + " host --version", &status);
  EXPECT_NE(out.find("registered: " + program), std::string::npos) << out;

  out = RunCommand(qsft + " unregister", &status);
  ASSERT_EQ(status, 0) << out;
  out = RunCommand(qsft + " reg export 'Software\\Classes'", &status);
  for (const char* gone : {"CLSID\\{", "QSFILETRANSFER", "TypeLib\\{", "Interface\\{"}) {
    EXPECT_EQ(out.find(gone), std::string::npos) << gone << " in:\n" << out;
  }
}

}  // namespace
}  // namespace qs::app
