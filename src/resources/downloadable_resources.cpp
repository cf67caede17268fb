#include "resources/downloadable_resources.h"

#include "resources/own_texts.h"

namespace qs {

std::u16string ResourceManager::LoadString(uint32_t id) const {
  if (auto own = OwnText(id)) return std::u16string(*own);
  return std::u16string();
}

std::u16string DownloadableResources::GetString(uint32_t id) {
  CheckPendingDownload();
  return LoadString(id);
}

std::u16string DownloadableResources::GetString(TextId id) { return GetString(ToUint(id)); }

std::u16string DownloadableResources::Format(TextId id, std::initializer_list<TextArg> args) {
  return FormatText(GetString(id), args);
}

std::u16string ApplicationTitle() {
  return std::u16string(OwnText(ToUint(TextId::kApplicationTitle)).value_or(u""));
}

}  // namespace qs
