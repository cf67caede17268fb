// Signed content: a block of bytes wrapped in a CMS SignedData structure (DER, content attached),
// the form of the language packs.
//
// Checking reads the structure as data: the content comes back exactly as signed, whether or not
// it can be trusted, so that tools can show what a rejected file holds. The caller decides by
// `trusted` alone whether to use it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/error.h"

namespace qs::platform {

// What a signed file says about itself once checked.
struct SignedContentCheck {
  // A SignedData structure with its content attached and exactly one signer.
  bool readable = false;
  // The signed bytes; set when readable.
  std::string content;
  // The signer's subject on one line (RFC 2253 form); empty when no signer certificate was found.
  std::string signer_subject;
  // The signature is the signer's and covers exactly `content`.
  bool signature_valid = false;
  // The signature is valid, the signer's certificate chains to a root of the system's trust store
  // (OpenSSL's default locations, which honour SSL_CERT_FILE and SSL_CERT_DIR) and allows code
  // signing (extended key usage codeSigning). Nothing else is asked of the signer.
  bool trusted = false;
  // Why the file cannot be trusted, for people; empty when trusted.
  std::string problem;
};

// Checks `der`. Never throws except std::bad_alloc; anything malformed is simply not readable.
SignedContentCheck CheckSignedContent(std::string_view der);

// The files a signer signs with, all PEM: the private key, its certificate, and optionally more
// certificates (intermediates) to include so that checkers can build the chain.
struct SigningFiles {
  std::string key_file;  // UTF-8 paths
  std::string cert_file;
  std::string chain_file;  // may be empty
};

// Signs `content` into a DER SignedData with the content attached. On failure the result is empty
// and `problem` says why (a file that cannot be read, a key that does not match the certificate).
std::string SignContent(std::string_view content, const SigningFiles& files, std::string& problem);

}  // namespace qs::platform
