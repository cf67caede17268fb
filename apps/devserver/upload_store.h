// The upload side of the development server: chunks placed by offset into one part file per
// upload path and client, completed under the root on check-in.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "devserver/http_request.h"
#include "devserver/response.h"

namespace qs::devserver {

// Reads up to `max` body bytes into the buffer; 0 when the body ended (or broke) early.
using BodyReader = std::function<size_t(char*, size_t)>;

class UploadStore {
 public:
  static constexpr const char* kPartsDir = ".qsft-parts";

  explicit UploadStore(std::filesystem::path root) : root_(std::move(root)) {}

  // Stores one chunk of `length` body bytes read from `read`. Returns the answer, or nothing
  // when the body broke off before `length` bytes (the partial chunk is then discarded, the
  // part file keeps what earlier chunks placed). Two uploads to the same path from the same
  // client at once are not told apart.
  std::optional<Response> Chunk(const RequestHead& request, const std::string& client,
                                uint64_t length, const BodyReader& read);

 private:
  std::filesystem::path PartPath(const RequestHead& request, const std::string& client) const;

  std::filesystem::path root_;
  std::mutex mutex_;  // guards the offset check and the completion rename
};

// The file name a check-in stores under: the last "/"- or "\"-separated component of the local
// path. Nothing for names that could leave the root or clash with the part files.
std::optional<std::string> CheckinName(const std::string& local_path);

// Reads and drops `length` body bytes; returns how many arrived.
uint64_t DrainBody(uint64_t length, const BodyReader& read);

}  // namespace qs::devserver
