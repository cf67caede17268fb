#include "config/store_layout.h"

namespace qs {

ErrorOr<std::u16string> DatasourceKeyPath(std::u16string_view datasource,
                                          std::u16string_view user) {
  for (auto part : {datasource, user}) {
    if (part.empty() || part.find(u'\\') != std::u16string_view::npos) {
      return ErrorCode::kInvalidParameter;
    }
  }
  std::u16string path;
  path.reserve(kClientKey.size() + kDatasourcesKey.size() + datasource.size() + user.size() + 3);
  path.append(kClientKey).append(u"\\").append(kDatasourcesKey).append(u"\\");
  path.append(datasource).append(u"\\").append(user);
  if (path.size() > kMaxDatasourceKeyPathLength) return ErrorCode::kFilenameExcedRange;
  return path;
}

std::u16string PolicyKeyPath(std::u16string_view subkey) {
  std::u16string path(kPolicyRoot);
  path.append(u"\\").append(subkey);
  return path;
}

}  // namespace qs
