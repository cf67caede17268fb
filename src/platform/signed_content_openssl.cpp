// Signed content with OpenSSL's CMS: the signature and content check, the chain to the default
// trust store, the code-signing usage, and signing for the pack tool.
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <climits>
#include <memory>

#include "platform/signed_content.h"

namespace qs::platform {

namespace {

template <auto Free>
struct Deleter {
  template <typename T>
  void operator()(T* p) const {
    Free(p);
  }
};
using Bio = std::unique_ptr<BIO, Deleter<BIO_free_all>>;
using Cms = std::unique_ptr<CMS_ContentInfo, Deleter<CMS_ContentInfo_free>>;
using Cert = std::unique_ptr<X509, Deleter<X509_free>>;
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using Store = std::unique_ptr<X509_STORE, Deleter<X509_STORE_free>>;
using StoreCtx = std::unique_ptr<X509_STORE_CTX, Deleter<X509_STORE_CTX_free>>;

void FreeCertsAndStack(STACK_OF(X509) * certs) { sk_X509_pop_free(certs, X509_free); }
void FreeStackOnly(STACK_OF(X509) * certs) { sk_X509_free(certs); }
using CertStack = std::unique_ptr<STACK_OF(X509), Deleter<FreeCertsAndStack>>;
using BorrowedCertStack = std::unique_ptr<STACK_OF(X509), Deleter<FreeStackOnly>>;

// Without the exit handler, as for the HTTP client: detached workers may still use OpenSSL while
// the process ends.
bool InitOnce() {
  static const bool ok = OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1;
  return ok;
}

// The reason of the oldest error on this thread's queue, and an empty queue afterwards.
std::string TakeOpenSslError() {
  const unsigned long code = ERR_peek_error();
  std::string text;
  if (code != 0) {
    const char* reason = ERR_reason_error_string(code);
    text = reason ? reason : "error " + std::to_string(ERR_GET_REASON(code));
  }
  ERR_clear_error();
  return text;
}

std::string Because(std::string what, const std::string& reason) {
  if (!reason.empty()) what += " (" + reason + ")";
  return what;
}

Bio MemoryBio(std::string_view bytes) {
  if (bytes.size() > static_cast<size_t>(INT_MAX)) return nullptr;
  return Bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
}

std::string BioText(BIO* bio) {
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio, &data);
  return size > 0 ? std::string(data, static_cast<size_t>(size)) : std::string();
}

std::string SubjectOf(X509* cert) {
  Bio out(BIO_new(BIO_s_mem()));
  if (!out || X509_NAME_print_ex(out.get(), X509_get_subject_name(cert), 0, XN_FLAG_RFC2253) < 0) {
    return std::string();
  }
  return BioText(out.get());
}

// Chain to the default trust store, then the uses the certificate allows. Empty when trusted.
std::string SignerProblem(CMS_ContentInfo* cms, X509* signer) {
  Store store(X509_STORE_new());
  if (!store || X509_STORE_set_default_paths(store.get()) != 1) {
    return Because("the system's trust store cannot be read", TakeOpenSslError());
  }
  ERR_clear_error();  // a missing default file or directory is not an error
  CertStack included(CMS_get1_certs(cms));
  StoreCtx ctx(X509_STORE_CTX_new());
  if (!ctx || X509_STORE_CTX_init(ctx.get(), store.get(), signer, included.get()) != 1) {
    return Because("the chain cannot be checked", TakeOpenSslError());
  }
  if (X509_verify_cert(ctx.get()) != 1) {
    const int error = X509_STORE_CTX_get_error(ctx.get());
    ERR_clear_error();
    return std::string("the signer's certificate does not chain to a trusted root (") +
           X509_verify_cert_error_string(error) + ")";
  }
  const uint32_t flags = X509_get_extension_flags(signer);
  if ((flags & EXFLAG_XKUSAGE) == 0 || (X509_get_extended_key_usage(signer) & XKU_CODE_SIGN) == 0) {
    return "the signer's certificate does not allow code signing (no extended key usage "
           "codeSigning)";
  }
  if ((flags & EXFLAG_KUSAGE) != 0 && (X509_get_key_usage(signer) & KU_DIGITAL_SIGNATURE) == 0) {
    return "the signer's certificate does not allow digital signatures (key usage)";
  }
  return std::string();
}

}  // namespace

SignedContentCheck CheckSignedContent(std::string_view der) {
  SignedContentCheck check;
  if (!InitOnce()) {
    check.problem = "the cryptographic library cannot be initialised";
    return check;
  }
  ERR_clear_error();
  Bio in = MemoryBio(der);
  Cms cms(in ? d2i_CMS_bio(in.get(), nullptr) : nullptr);
  if (!cms || OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed) {
    ERR_clear_error();
    check.problem = "not a signed file (no CMS SignedData in DER form)";
    return check;
  }
  ASN1_OCTET_STRING** content = CMS_get0_content(cms.get());
  if (content == nullptr || *content == nullptr) {
    check.problem = "the signed content is not attached";
    return check;
  }
  if (sk_CMS_SignerInfo_num(CMS_get0_SignerInfos(cms.get())) != 1) {
    check.problem = "not exactly one signer";
    return check;
  }
  check.readable = true;
  check.content.assign(reinterpret_cast<const char*>(ASN1_STRING_get0_data(*content)),
                       static_cast<size_t>(ASN1_STRING_length(*content)));

  // The signature over the content first; the signer's certificate is judged separately so that
  // the reason can be told.
  Bio out(BIO_new(BIO_s_mem()));
  const int verified = out ? CMS_verify(cms.get(), nullptr, nullptr, nullptr, out.get(),
                                        CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY)
                           : 0;
  const std::string verify_error = verified == 1 ? std::string() : TakeOpenSslError();
  BorrowedCertStack signers(CMS_get0_signers(cms.get()));
  X509* signer =
      signers && sk_X509_num(signers.get()) == 1 ? sk_X509_value(signers.get(), 0) : nullptr;
  if (signer == nullptr) {
    // Before a successful verification the signer may not be matched yet: look it up by hand.
    CertStack included(CMS_get1_certs(cms.get()));
    CMS_SignerInfo* info = sk_CMS_SignerInfo_value(CMS_get0_SignerInfos(cms.get()), 0);
    for (int i = 0; included && i < sk_X509_num(included.get()); ++i) {
      X509* candidate = sk_X509_value(included.get(), i);
      if (CMS_SignerInfo_cert_cmp(info, candidate) == 0) {
        check.signer_subject = SubjectOf(candidate);
        break;
      }
    }
  } else {
    check.signer_subject = SubjectOf(signer);
  }
  ERR_clear_error();
  if (verified != 1 || signer == nullptr) {
    check.problem = Because("the signature does not verify", verify_error);
    return check;
  }
  check.signature_valid = true;
  check.content = BioText(out.get());
  check.problem = SignerProblem(cms.get(), signer);
  check.trusted = check.problem.empty();
  ERR_clear_error();
  return check;
}

std::string SignContent(std::string_view content, const SigningFiles& files, std::string& problem) {
  if (!InitOnce()) {
    problem = "the cryptographic library cannot be initialised";
    return std::string();
  }
  ERR_clear_error();
  Bio key_in(BIO_new_file(files.key_file.c_str(), "r"));
  Key key(key_in ? PEM_read_bio_PrivateKey(key_in.get(), nullptr, nullptr, nullptr) : nullptr);
  if (!key) {
    problem = Because("cannot read the private key from " + files.key_file, TakeOpenSslError());
    return std::string();
  }
  Bio cert_in(BIO_new_file(files.cert_file.c_str(), "r"));
  Cert cert(cert_in ? PEM_read_bio_X509(cert_in.get(), nullptr, nullptr, nullptr) : nullptr);
  if (!cert) {
    problem = Because("cannot read the certificate from " + files.cert_file, TakeOpenSslError());
    return std::string();
  }
  if (X509_check_private_key(cert.get(), key.get()) != 1) {
    ERR_clear_error();
    problem = "the private key does not belong to the certificate";
    return std::string();
  }
  CertStack chain(sk_X509_new_null());
  if (!chain) {
    problem = "out of memory";
    return std::string();
  }
  if (!files.chain_file.empty()) {
    Bio chain_in(BIO_new_file(files.chain_file.c_str(), "r"));
    if (!chain_in) {
      problem = Because("cannot read " + files.chain_file, TakeOpenSslError());
      return std::string();
    }
    while (X509* extra = PEM_read_bio_X509(chain_in.get(), nullptr, nullptr, nullptr)) {
      if (sk_X509_push(chain.get(), extra) == 0) {
        X509_free(extra);
        problem = "out of memory";
        return std::string();
      }
    }
    ERR_clear_error();  // the end of the file
    if (sk_X509_num(chain.get()) == 0) {
      problem = "no certificate in " + files.chain_file;
      return std::string();
    }
  }
  Bio data = MemoryBio(content);
  Cms cms(
      data ? CMS_sign(cert.get(), key.get(), chain.get(), data.get(), CMS_BINARY | CMS_NOSMIMECAP)
           : nullptr);
  Bio out(BIO_new(BIO_s_mem()));
  if (!cms || !out || i2d_CMS_bio(out.get(), cms.get()) != 1) {
    problem = Because("signing failed", TakeOpenSslError());
    return std::string();
  }
  return BioText(out.get());
}

}  // namespace qs::platform
