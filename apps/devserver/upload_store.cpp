#include "devserver/upload_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <vector>

#include "devserver/socket_io.h"

namespace qs::devserver {
namespace fs = std::filesystem;

namespace {
constexpr size_t kPiece = 64 * 1024;

std::string HexHash(const std::string& text) {
  // FNV-1a: a stable, collision-unlikely file name for a path and client.
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : text) {
    h ^= c;
    h *= 1099511628211ull;
  }
  char out[17];
  static constexpr char kHex[] = "0123456789abcdef";
  for (int i = 15; i >= 0; --i, h >>= 4) out[i] = kHex[h & 15];
  out[16] = 0;
  return out;
}

Response Failure(const char* what) {
  return Response::Text(500, std::string(what) + ": " + std::strerror(errno));
}

}  // namespace

uint64_t DrainBody(uint64_t length, const BodyReader& read) {
  std::vector<char> buffer(kPiece);
  uint64_t got = 0;
  while (got < length) {
    size_t n = read(buffer.data(), static_cast<size_t>(std::min<uint64_t>(kPiece, length - got)));
    if (n == 0) break;
    got += n;
  }
  return got;
}

std::optional<std::string> CheckinName(const std::string& local_path) {
  size_t sep = local_path.find_last_of("/\\");
  std::string name = sep == std::string::npos ? local_path : local_path.substr(sep + 1);
  if (name.empty() || name == "." || name == ".." || name == UploadStore::kPartsDir ||
      name.find('\0') != std::string::npos)
    return std::nullopt;
  return name;
}

fs::path UploadStore::PartPath(const RequestHead& request, const std::string& client) const {
  return root_ / kPartsDir / (HexHash(client + " " + request.path) + ".part");
}

std::optional<Response> UploadStore::Chunk(const RequestHead& request, const std::string& client,
                                           uint64_t length, const BodyReader& read) {
  auto index = QueryParam(request.query, "chunkIdx");
  auto offset_text = QueryParam(request.query, "offset");
  auto parsed_offset = offset_text ? ParseDecimal(*offset_text) : std::nullopt;
  auto refuse = [&](int status, std::string text) -> std::optional<Response> {
    if (DrainBody(length, read) < length) return std::nullopt;
    return Response::Text(status, std::move(text));
  };
  if (!index || !ParseDecimal(*index) || !parsed_offset) {
    return refuse(400, "missing chunkIdx or offset");
  }
  const uint64_t offset = *parsed_offset;
  std::optional<std::string> name;
  if (auto checkin = QueryParam(request.query, "checkin")) {
    name = CheckinName(*checkin);
    if (!name) return refuse(400, "refused checkin name");
  }

  fs::path part = PartPath(request, client);
  Fd fd;
  {
    std::lock_guard lock(mutex_);
    std::error_code ec;
    fs::create_directories(part.parent_path(), ec);
    uint64_t have = fs::exists(part, ec) ? fs::file_size(part, ec) : 0;
    if (offset > have) {
      return refuse(409, "offset " + std::to_string(offset) + " beyond the " +
                             std::to_string(have) + " bytes received");
    }
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (offset == 0 ? O_TRUNC : 0);
    fd = Fd(::open(part.c_str(), flags, 0644));
  }
  if (!fd.valid()) {
    Response failure = Failure("cannot open the part file");
    if (DrainBody(length, read) < length) return std::nullopt;
    return failure;
  }

  std::vector<char> buffer(kPiece);
  uint64_t got = 0;
  bool write_failed = false;
  while (got < length) {
    size_t n = read(buffer.data(), static_cast<size_t>(std::min<uint64_t>(kPiece, length - got)));
    if (n == 0) break;
    if (!write_failed && ::pwrite(fd.get(), buffer.data(), n, static_cast<off_t>(offset + got)) !=
                             static_cast<ssize_t>(n))
      write_failed = true;
    got += n;
  }
  // Whatever lay beyond this chunk came from an attempt the client has since given up.
  if (::ftruncate(fd.get(), static_cast<off_t>(offset + (got < length ? 0 : got))) != 0)
    write_failed = true;
  if (got < length) return std::nullopt;
  if (write_failed) return Failure("cannot store the chunk");
  if (!name) return Response::Text(200, "OK chunk " + *index);

  if (::fsync(fd.get()) != 0) return Failure("cannot flush the file");
  fd.Reset();
  std::lock_guard lock(mutex_);
  std::error_code ec;
  fs::rename(part, root_ / *name, ec);
  if (ec) return Response::Text(500, "cannot complete the file: " + ec.message());
  return Response::Text(200, "OK " + std::to_string(offset + got));
}

}  // namespace qs::devserver
