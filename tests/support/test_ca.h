// A certificate authority made for one test with the openssl program: a trusted root, signers
// under it with and without code signing, and a signer under a second root that nobody trusts.
// Tests trust the root through SSL_CERT_FILE (see `trust_store`).
#pragma once

#include <filesystem>
#include <string>

#include "platform/signed_content.h"

namespace qs::testing {

class TestCa {
 public:
  // Creates everything in `dir`; ok() says whether openssl did its part.
  explicit TestCa(const std::filesystem::path& dir);
  bool ok() const { return ok_; }

  const std::filesystem::path& trust_store() const { return root_pem_; }  // the root alone
  platform::SigningFiles code_signer() const { return Files("signer"); }
  platform::SigningFiles server_only_signer() const { return Files("server"); }  // no codeSigning
  platform::SigningFiles untrusted_signer() const { return Files("rogue-signer"); }

 private:
  platform::SigningFiles Files(const std::string& name) const;

  std::filesystem::path dir_;
  std::filesystem::path root_pem_;
  bool ok_ = false;
};

}  // namespace qs::testing
