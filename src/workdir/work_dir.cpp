#include "workdir/work_dir.h"

#include <utility>

#include "config/reg_values.h"
#include "config/store_layout.h"
#include "platform/dialogs.h"
#include "platform/file_system.h"
#include "platform/settings_store.h"
#include "platform/url_parts.h"
#include "platform/user_folders.h"
#include "workdir/path_qualify.h"

namespace qs {

namespace {

bool IsRefusedDatasource(std::u16string_view datasource) {
  return datasource.find_first_of(u"\\/") != std::u16string_view::npos;
}

// The page's host exactly as its address spells it; empty when it has none.
std::u16string PageHost(const std::optional<std::u16string>& page_url) {
  if (!page_url || !platform::IsUrl(*page_url)) return {};
  auto parts = platform::SplitUrl(*page_url);
  return parts.ok() ? std::move(parts->host) : std::u16string();
}

bool Covers(std::u16string_view location, std::u16string_view path) {
  if (location.empty() || !path.starts_with(location)) return false;
  return path.size() == location.size() || EndsWithSeparator(location) ||
         IsPathSeparator(path[location.size()]);
}

// What the stored settings of the pair say for this host.
struct StoredState {
  std::u16string candidate;  // the stored directory, when there is one
  bool site_listed = false;  // the host stands in "AllowedSites" (or was just added)
  bool done = false;         // `candidate` is the answer
  bool failed = false;       // "AllowedSites" could not be read: no answer at all
};

StoredState ReadStoredWorkDir(std::u16string_view key_path, std::u16string_view host,
                              WorkDirMode mode) {
  StoredState state;
  auto key = platform::SettingsKey::Open(key_path);
  if (!key.ok()) return state;

  auto listed = MultiSzContains(*key, kAllowedSites, host);
  const bool list_absent = !listed.ok() && listed.error().Is(ErrorCode::kFileNotFound);
  if (!listed.ok() && !list_absent) {
    state.failed = true;
    return state;
  }
  if (listed.ok()) {
    state.site_listed = *listed;
    if (!state.site_listed) return state;  // bound to other sites only
  }

  auto stored = ReadRegValue(*key, kUserWorkDir);
  if (!stored.ok() || stored->empty()) return state;
  state.candidate = TextFromData(*stored);
  if (!platform::PathExists(state.candidate)) return state;
  // A directory stored before any site was recorded belongs to the first site that reads it.
  if (list_absent && MultiSzAppend(*key, kAllowedSites, host).ok()) state.site_listed = true;
  state.done = mode != WorkDirMode::kChange;
  return state;
}

// The default from the page's template, created when missing. Updates the candidate and
// whether the user must still be asked.
void ProposeDefault(std::u16string_view path_template, std::u16string_view datasource,
                    std::u16string_view user, WorkDirMode mode, std::u16string& candidate,
                    bool& prompt_needed) {
  const MacroExpander expander = WorkDirMacros(datasource, user);
  std::u16string path = ExpandPathTemplate(expander, path_template);
  if (path.empty()) return;
  const bool check_only = mode == WorkDirMode::kCheck;
  if (platform::PathExists(path)) {
    if (!check_only) candidate = std::move(path);
    return;
  }
  auto created = platform::CreateDirectoryTree(path);
  const bool created_now = created.ok() && *created == platform::DirectoryCreation::kCreated;
  if (created_now && IsSafeWorkDir(path, expander)) {
    candidate = std::move(path);
    prompt_needed = false;
    return;
  }
  // Not created, or created outside every safe location (the new directory stays): the user
  // decides, so only a resolution that can ask takes it.
  if (!check_only) candidate = std::move(path);
}

// The folder picker, starting from `folder` when it qualifies. False when cancelled.
bool PickWorkDir(const WorkDirContext& context, std::u16string& folder) {
  if (context.dialogs == nullptr) return false;
  const std::u16string start = folder.empty() ? std::u16string() : QualifyPath(folder);
  std::u16string title = context.picker_title ? context.picker_title() : std::u16string();
  auto picked = context.dialogs->PickFolder(platform::FolderPickerRequest(std::move(title), start));
  if (!picked.chosen()) return false;
  folder = std::move(picked).value();
  return true;
}

bool StoreWorkDir(std::u16string_view key_path, std::u16string_view host, std::u16string_view dir,
                  bool site_listed) {
  auto key = platform::SettingsKey::Create(key_path);
  if (!key.ok()) return false;
  if (!key->Set(kUserWorkDir, platform::kRegSz, SzData(dir)).ok()) return false;
  // The directory is stored; a host that cannot be recorded only means the page will be asked
  // again next time.
  if (!site_listed) (void)MultiSzAppend(*key, kAllowedSites, host);
  return true;
}

}  // namespace

MacroExpander WorkDirMacros(std::u16string_view datasource, std::u16string_view user) {
  std::u16string datasource_part(datasource);
  for (char16_t& c : datasource_part) {
    if (c == u':') c = u'_';
  }
  MacroExpander expander;
  expander.AddMacro(u"LocalAppData", platform::LocalAppDataFolder());
  expander.AddMacro(u"Datasource", datasource_part);
  expander.AddMacro(u"User", user);
  return expander;
}

bool IsSafeWorkDir(std::u16string_view path, MacroExpander expander) {
  std::u16string qualified = QualifyPath(path);
  if (qualified.empty()) return false;
  if (!EndsWithSeparator(qualified)) qualified += u'/';

  if (Covers(ExpandPathTemplate(expander, kSafeWorkDirTemplate), qualified)) return true;
  for (const auto& entry : ReadNumberedList(PolicyKeyPath(kSafeWorkDirs))) {
    if (Covers(ExpandPathTemplate(expander, entry), qualified)) return true;
  }
  return false;
}

std::u16string ResolveWorkDir(const WorkDirContext& context, std::u16string& user_work_dir,
                              WorkDirMode mode) {
  if (context.datasource.empty() || context.user.empty() ||
      IsRefusedDatasource(context.datasource)) {
    return {};
  }
  const std::u16string host = PageHost(context.page_url);
  if (host.empty()) return {};
  auto key_path = DatasourceKeyPath(context.datasource, context.user);
  if (!key_path.ok()) return {};

  StoredState stored = ReadStoredWorkDir(*key_path, host, mode);
  if (stored.failed) return {};
  if (stored.done) {
    user_work_dir = stored.candidate;
    return std::move(stored.candidate);
  }

  std::u16string candidate = std::move(stored.candidate);
  bool prompt_needed = true;
  if (mode != WorkDirMode::kChange) {
    ProposeDefault(user_work_dir, context.datasource, context.user, mode, candidate, prompt_needed);
  }
  if (mode != WorkDirMode::kCheck && (mode == WorkDirMode::kChange || prompt_needed)) {
    if (!PickWorkDir(context, candidate)) return {};
  }
  if (candidate.empty()) return {};
  if (!StoreWorkDir(*key_path, host, candidate, stored.site_listed)) return {};
  user_work_dir = candidate;
  return candidate;
}

}  // namespace qs
