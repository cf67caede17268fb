// The download and static-page side of the development server: names below the root and the
// answers that serve them.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "devserver/response.h"

namespace qs::devserver {

// The regular file `name` below `root` (already canonical), or nothing when the name is empty,
// absolute, holds a ".." component, leads outside the root through a link, or reaches the
// server's own part files (root/.qsft-parts).
std::optional<std::filesystem::path> ResolveUnderRoot(const std::filesystem::path& root,
                                                      const std::string& name);

// GET /download?file=NAME[&resumeAt=N]: 200 with "QS-Content-Length" (the whole file) and, for a
// resumption, "Resumed-from"; 400 without a usable name or offset, 403 for a refused name, 404
// for a missing file, 416 for an offset beyond the end.
Response DownloadResponse(const std::filesystem::path& root, const std::string& query);

// GET /static/PATH from root/static.
Response StaticResponse(const std::filesystem::path& root, const std::string& path);

}  // namespace qs::devserver
