// The source of the control's message texts and dialog titles.
//
// Every title and message is fetched by id at the moment it is needed. A language pack, once
// one is loaded, answers first; the module's own table answers for every id the pack lacks, and
// alone while none is loaded. Used on the page's thread only.
//
// Language packs live in the user's data folder, one file per language and module name:
//   <XDG data home>/Tarnholt/Quillstone/Resources/<language>/<module name>
// A pack is used only after its signature has passed (platform/signed_content.h); a file that
// fails the check is deleted. The trust decision and the texts are taken from the same bytes,
// read once, so the file cannot change between the check and the use.
#pragma once

#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "resources/format_text.h"
#include "resources/language_pack.h"
#include "resources/text_ids.h"

namespace qs {

// Knows the control's own texts and the loaded language pack, if any.
class ResourceManager {
 public:
  ResourceManager() = default;
  virtual ~ResourceManager() = default;
  ResourceManager(const ResourceManager&) = delete;
  ResourceManager& operator=(const ResourceManager&) = delete;

  // The text for `id`: the language pack's when it has a non-empty one, else the own table's,
  // else empty.
  std::u16string LoadString(uint32_t id) const;

  // Frees the pack, then loads the signed pack file at `path` if its signature passes. A file
  // that cannot be read, is not trusted or is malformed loads nothing: own texts.
  void LoadModule(std::u16string_view path);
  void FreeModule() { language_module_.reset(); }
  bool module_loaded() const { return language_module_.has_value(); }

 protected:
  void UseModule(LanguagePack pack) { language_module_ = std::move(pack); }

 private:
  std::optional<LanguagePack> language_module_;
};

// A pack download running on its own worker, held by the loader until it is taken over.
class ModuleDownload {
 public:
  virtual ~ModuleDownload() = default;
  // The download has ended successfully (with or without a file).
  virtual bool Done() const = 0;
  virtual std::u16string local_path() const = 0;
  // Asks the download to stop; it ends by itself.
  virtual void Cancel() = 0;
};

// Starts a download of `url` into `path` (which it writes beside and renames onto when complete).
using ModuleDownloadStarter = std::function<std::unique_ptr<ModuleDownload>(
    const std::u16string& url, const std::u16string& path)>;

class DownloadableResources : public ResourceManager {
 public:
  DownloadableResources() = default;
  // A download still pending is asked to stop: nobody would take it over any more.
  ~DownloadableResources() override;

  // Takes over a finished language download first, then looks the text up.
  std::u16string GetString(TextId id);
  std::u16string GetString(uint32_t id);
  // GetString(id) with its placeholders filled safely (see FormatText).
  std::u16string Format(TextId id, std::initializer_list<TextArg> args);

  // Frees the pack, then uses the file for `language` and the module name of `url` when it is
  // signed and at least `version` (ParseResourceVersion); otherwise (a failing file deleted
  // first) starts its download with `start`, replacing any pending one. Returns before any
  // download ends. `language` must be a plain tag and the module name a plain file name
  // (checked here again: nothing happens otherwise).
  void LoadLanguage(const ModuleDownloadStarter& start, std::u16string_view language,
                    std::u16string_view version, std::u16string_view url);

  bool download_pending() const { return pending_download_ != nullptr; }

 private:
  // Adopts a pack whose download has ended Done: loaded when its signature passes, deleted
  // otherwise. A failed download stays pending until the next LoadLanguage replaces it.
  void CheckPendingDownload();

  std::unique_ptr<ModuleDownload> pending_download_;
};

// Where the pack for `language` from `url` is kept; nothing when the data folder is unknown or
// the language or module name is not plain.
std::optional<std::u16string> BuildModulePath(std::u16string_view language,
                                              std::u16string_view url);

// The application title, the caption of every message box. Fixed to the module's own text: a
// language pack does not change it.
std::u16string ApplicationTitle();

}  // namespace qs
