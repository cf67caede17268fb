#include "devserver/files.h"

#include <system_error>

#include "devserver/http_request.h"
#include "devserver/upload_store.h"

namespace qs::devserver {
namespace fs = std::filesystem;

namespace {

bool IsWithin(const fs::path& root, const fs::path& candidate) {
  auto r = root.begin();
  auto c = candidate.begin();
  for (; r != root.end(); ++r, ++c) {
    if (c == candidate.end() || *r != *c) return false;
  }
  return true;
}

std::string ContentTypeFor(const fs::path& path) {
  std::string ext = path.extension().string();
  if (ext == ".html" || ext == ".htm") return "text/html; charset=utf-8";
  if (ext == ".js") return "text/javascript; charset=utf-8";
  if (ext == ".css") return "text/css; charset=utf-8";
  if (ext == ".json") return "application/json";
  if (ext == ".txt") return "text/plain; charset=utf-8";
  if (ext == ".png") return "image/png";
  if (ext == ".svg") return "image/svg+xml";
  return "application/octet-stream";
}

}  // namespace

std::optional<fs::path> ResolveUnderRoot(const fs::path& root, const std::string& name) {
  if (name.empty() || name.find('\0') != std::string::npos) return std::nullopt;
  fs::path relative(name);
  if (relative.is_absolute() || relative.has_root_name()) return std::nullopt;
  for (const auto& part : relative) {
    if (part == "..") return std::nullopt;
  }
  std::error_code ec;
  fs::path resolved = fs::weakly_canonical(root / relative, ec);
  if (ec || !IsWithin(root, resolved)) return std::nullopt;
  // Half-received uploads are the server's own, whatever name reaches them.
  if (IsWithin(root / UploadStore::kPartsDir, resolved)) return std::nullopt;
  return resolved;
}

Response DownloadResponse(const fs::path& root, const std::string& query) {
  auto name = QueryParam(query, "file");
  if (!name || name->empty()) return Response::Text(400, "missing file parameter");
  auto path = ResolveUnderRoot(root, *name);
  if (!path) return Response::Text(403, "refused file name");
  std::error_code ec;
  if (!fs::is_regular_file(*path, ec)) return Response::Text(404, "no such file");
  uint64_t size = fs::file_size(*path, ec);
  if (ec) return Response::Text(404, "no such file");

  uint64_t from = 0;
  auto resume = QueryParam(query, "resumeAt");
  if (resume) {
    auto n = ParseDecimal(*resume);
    if (!n) return Response::Text(400, "bad resumeAt");
    if (*n > size) return Response::Text(416, "resumeAt beyond the end");
    from = *n;
  }
  Response r;
  r.status = 200;
  r.headers.emplace_back("Content-Type", "application/octet-stream");
  r.headers.emplace_back("QS-Content-Length", std::to_string(size));
  if (resume) r.headers.emplace_back("Resumed-from", std::to_string(from));
  r.file = FileRange{*path, from, size - from};
  return r;
}

Response StaticResponse(const fs::path& root, const std::string& path) {
  constexpr std::string_view kPrefix = "/static/";
  auto name = PercentDecode(std::string_view(path).substr(kPrefix.size()));
  if (!name) return Response::Text(400, "bad path");
  std::error_code ec;
  fs::path static_root = fs::weakly_canonical(root / "static", ec);
  if (ec) return Response::Text(404, "no such page");
  auto resolved = ResolveUnderRoot(static_root, *name);
  if (!resolved) return Response::Text(403, "refused");
  if (!fs::is_regular_file(*resolved, ec)) return Response::Text(404, "no such page");
  uint64_t size = fs::file_size(*resolved, ec);
  if (ec) return Response::Text(404, "no such page");
  Response r;
  r.headers.emplace_back("Content-Type", ContentTypeFor(*resolved));
  r.file = FileRange{*resolved, 0, size};
  return r;
}

}  // namespace qs::devserver
