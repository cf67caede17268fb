#include "platform/trash.h"

#include <gio/gio.h>

#include <memory>

#include "base/text.h"
#include "platform/gio_error.h"
#include "platform/last_error.h"

namespace qs::platform {

ErrorOr<void> MoveToTrash(std::u16string_view path) {
  const std::string target = ToUtf8(path);
  if (target.empty() || target.front() != '/' || target.find('\0') != std::string::npos) {
    return Fail(ErrorCode::kInvalidParameter);
  }
  std::unique_ptr<GFile, decltype(&g_object_unref)> file(g_file_new_for_path(target.c_str()),
                                                         &g_object_unref);
  GError* raw_error = nullptr;
  if (g_file_trash(file.get(), nullptr, &raw_error)) return {};
  GErrorPtr error(raw_error);
  return Fail(Error{CodeFromGError(error.get())});
}

}  // namespace qs::platform
