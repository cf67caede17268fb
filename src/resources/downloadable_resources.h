// The source of the control's message texts and dialog titles.
//
// Every title and message is fetched by id at the moment it is needed. A language module, once
// one is loaded, answers first; the module's own table answers for every id the language module
// lacks, and alone while none is loaded. Used on the page's thread only.
#pragma once

#include <initializer_list>
#include <string>

#include "resources/format_text.h"
#include "resources/text_ids.h"

namespace qs {

// Knows the control's own texts; language modules come in through DownloadableResources.
class ResourceManager {
 public:
  ResourceManager() = default;
  virtual ~ResourceManager() = default;
  ResourceManager(const ResourceManager&) = delete;
  ResourceManager& operator=(const ResourceManager&) = delete;

  // The text for `id`: the language module's when it has one, else the own table's, else empty.
  std::u16string LoadString(uint32_t id) const;
};

class DownloadableResources : public ResourceManager {
 public:
  DownloadableResources() = default;
  ~DownloadableResources() override = default;

  // Takes over a finished language download first, then looks the text up.
  std::u16string GetString(TextId id);
  std::u16string GetString(uint32_t id);
  // GetString(id) with its placeholders filled safely (see FormatText).
  std::u16string Format(TextId id, std::initializer_list<TextArg> args);

 private:
  // Adopts a language module whose download has ended; nothing to do while none is pending.
  void CheckPendingDownload() {}
};

// The application title, the caption of every message box. Fixed to the module's own text: a
// language module does not change it.
std::u16string ApplicationTitle();

}  // namespace qs
