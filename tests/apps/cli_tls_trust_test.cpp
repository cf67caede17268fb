// HTTPS to a server whose certificate comes from a company CA that is not in the system's
// store: trusted once SSL_CERT_FILE or SSL_CERT_DIR names it, and only then. The server is
// openssl's own test server on 127.0.0.1 (it answers any GET with a status page); the CA and
// the server's certificate are made by the test.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using qs::testing::ChildProcess;
using qs::testing::TempDir;

bool Shell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Quote(const fs::path& path) { return "'" + path.string() + "'"; }

class TlsTrustTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* bin = std::getenv("QSFT_BIN_DIR");
    if (bin == nullptr) GTEST_SKIP() << "QSFT_BIN_DIR is not set (CTest sets it)";
    program_ = std::string(bin) + "/qsft";
    const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    auto root = [&](const std::string& name) {
      return Shell("openssl req -x509" + ec + " -keyout " + Quote(dir_ / (name + ".key")) +
                   " -out " + Quote(dir_ / (name + ".pem")) + " -subj '/CN=" + name +
                   "' -days 2 -addext basicConstraints=critical,CA:TRUE" +
                   " -addext keyUsage=critical,keyCertSign,cRLSign");
    };
    std::ofstream(dir_ / "server.cnf") << "subjectAltName=IP:127.0.0.1\n"
                                          "extendedKeyUsage=serverAuth\n";
    ASSERT_TRUE(root("Company Root") && root("Other Root"));
    ASSERT_TRUE(Shell("openssl req -new" + ec + " -keyout " + Quote(dir_ / "server.key") +
                      " -out " + Quote(dir_ / "server.csr") + " -subj '/CN=127.0.0.1'"));
    ASSERT_TRUE(Shell("openssl x509 -req -in " + Quote(dir_ / "server.csr") + " -CA " +
                      Quote(dir_ / "Company Root.pem") + " -CAkey " +
                      Quote(dir_ / "Company Root.key") + " -set_serial 7 -days 2 -out " +
                      Quote(dir_ / "server.pem") + " -extfile " + Quote(dir_ / "server.cnf")));
    // A hashed directory, as SSL_CERT_DIR expects one.
    fs::create_directories(hashed_);
    fs::copy_file(dir_ / "Company Root.pem", hashed_ / "company.pem");
    ASSERT_TRUE(Shell("openssl rehash " + Quote(hashed_)));
  }

  // Runs `qsft download` of one page from a fresh server that accepts one connection, with
  // `env` added; the exit code.
  int Download(const std::vector<std::string>& env) {
    ChildProcess server({"/usr/bin/openssl", "s_server", "-accept", "127.0.0.1:0", "-cert",
                         (dir_ / "server.pem").string(), "-key", (dir_ / "server.key").string(),
                         "-www", "-naccept", "1"},
                        {});
    std::string port;
    for (bool ok = true; ok && port.empty();) {
      const std::string line = server.ReadLine(ok, 20000);
      if (line.rfind("ACCEPT ", 0) == 0) port = line.substr(line.rfind(':') + 1);
    }
    if (port.empty()) {
      ADD_FAILURE() << "the TLS server did not start";
      return -1;
    }
    std::vector<std::string> full = {"HOME=" + home_.path().string(),
                                     "XDG_CONFIG_HOME=" + (home_ / "config").string(),
                                     "XDG_DATA_HOME=" + (home_ / "data").string()};
    full.insert(full.end(), env.begin(), env.end());
    fs::remove(target_);
    ChildProcess qsft({program_, "download", "--quiet",
                       "https://127.0.0.1:" + port + "/download?file=a.pdf", target_.string()},
                      full);
    const int code = qsft.Finish(60000);
    last_error_ = qsft.err();
    return code;
  }

  // Without these, the user's own settings would decide.
  const std::vector<std::string> kNone = {"SSL_CERT_FILE=", "SSL_CERT_DIR="};

  std::string program_;
  TempDir dir_;
  TempDir home_;
  fs::path hashed_ = dir_ / "hashed";
  fs::path target_ = home_ / "a.pdf";
  std::string last_error_;
};

TEST_F(TlsTrustTest, ACompanyCaIsTrustedWhenTheEnvironmentNamesIt) {
  EXPECT_EQ(Download(kNone), 1) << last_error_;
  EXPECT_NE(last_error_.find("not trusted"), std::string::npos) << last_error_;
  EXPECT_FALSE(fs::exists(target_));

  const std::string file = "SSL_CERT_FILE=" + (dir_ / "Company Root.pem").string();
  const std::string other = "SSL_CERT_FILE=" + (dir_ / "Other Root.pem").string();
  const std::string dir = "SSL_CERT_DIR=" + hashed_.string();
  EXPECT_EQ(Download({file, "SSL_CERT_DIR="}), 0) << last_error_;
  EXPECT_TRUE(fs::exists(target_));
  EXPECT_EQ(Download({"SSL_CERT_FILE=", dir}), 0) << last_error_;
  // Both at once add up, and the directory may be a list.
  EXPECT_EQ(Download({other, "SSL_CERT_DIR=/nonexistent:" + hashed_.string()}), 0) << last_error_;
  // Another CA, or one that cannot be read, trusts nothing more.
  EXPECT_EQ(Download({other, "SSL_CERT_DIR="}), 1) << last_error_;
  EXPECT_EQ(Download({"SSL_CERT_FILE=" + (dir_ / "missing.pem").string(), "SSL_CERT_DIR="}), 1)
      << last_error_;
}

}  // namespace
