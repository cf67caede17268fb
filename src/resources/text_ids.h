// Ids of the module's message texts and titles.
//
// The numbers are the contract with language modules, whose string tables carry their texts
// under the same ids: never renumber.
#pragma once

#include <cstdint>

namespace qs {

enum class TextId : uint32_t {
  kControlName = 1,       // registration name of the control
  kPropertyPageName = 2,  // registration name of the property page
  kPropertyPageCaption = 200,
  kSelectExportDirTitle = 300,
  kLocateFileTitle = 301,  // %s: the file's name
  kSelectWorkDirTitle = 302,
  kSelectFolderTitle = 303,
  kSelectFilesTitle = 304,
  kSelectDownloadDirTitle = 306,
  kSelectFileTitle = 307,
  kRunFailed = 308,        // %s: the file, %d: the error code
  kAllowFileAccess = 309,  // %s: the file
  kDownloadDirDenied = 310,
  kUnhandledException = 311,
  kErrorOccurred = 312,  // followed by " (%d)" with the code
  kHarmfulFileBlocked = 313,
  kApplicationTitle = 57344,  // caption of every message box
};

constexpr uint32_t ToUint(TextId id) { return static_cast<uint32_t>(id); }

}  // namespace qs
