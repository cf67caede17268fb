#include "support/test_ca.h"

#include <cstdlib>
#include <fstream>

namespace qs::testing {

namespace {

bool Run(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Quote(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

}  // namespace

TestCa::TestCa(const std::filesystem::path& dir) : dir_(dir), root_pem_(dir / "root.pem") {
  {
    std::ofstream ext(dir / "ext.cnf");
    ext << "[code]\nbasicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
           "extendedKeyUsage=codeSigning\n"
           "[server]\nbasicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
           "extendedKeyUsage=serverAuth\n";
  }
  const std::string key_options = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
  auto root = [&](const std::string& name, const std::string& cn) {
    return Run("openssl req -x509" + key_options + " -keyout " + Quote(dir / (name + ".key")) +
               " -out " + Quote(dir / (name + ".pem")) + " -subj '/CN=" + cn + "' -days 2" +
               " -addext basicConstraints=critical,CA:TRUE" +
               " -addext keyUsage=critical,keyCertSign,cRLSign");
  };
  auto leaf = [&](const std::string& name, const std::string& issuer, const std::string& section) {
    return Run("openssl req -new" + key_options + " -keyout " + Quote(dir / (name + ".key")) +
               " -out " + Quote(dir / (name + ".csr")) + " -subj '/O=Tests/CN=" + name + "'") &&
           Run("openssl x509 -req -in " + Quote(dir / (name + ".csr")) + " -CA " +
               Quote(dir / (issuer + ".pem")) + " -CAkey " + Quote(dir / (issuer + ".key")) +
               " -set_serial " + std::to_string(name.size() * 7919) + " -days 2 -out " +
               Quote(dir / (name + ".pem")) + " -extfile " + Quote(dir / "ext.cnf") +
               " -extensions " + section);
  };
  ok_ = root("root", "Test Root") && root("rogue", "Rogue Root") &&
        leaf("signer", "root", "code") && leaf("server", "root", "server") &&
        leaf("rogue-signer", "rogue", "code");
}

platform::SigningFiles TestCa::Files(const std::string& name) const {
  return {(dir_ / (name + ".key")).string(), (dir_ / (name + ".pem")).string(), ""};
}

}  // namespace qs::testing
