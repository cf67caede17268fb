#include "resources/own_texts.h"

#include <array>
#include <utility>

namespace qs {

namespace {

struct OwnEntry {
  TextId id;
  std::u16string_view text;
};

// The wording is what pages and users have always seen, spelling included.
constexpr std::array kOwnTexts = {
    OwnEntry{TextId::kControlName, u"QSWebFileTransfer Control"},
    OwnEntry{TextId::kPropertyPageName, u"QSWebFileTransfer Property Page"},
    OwnEntry{TextId::kPropertyPageCaption, u"General"},
    OwnEntry{TextId::kSelectExportDirTitle, u"Select an Export Directory"},
    OwnEntry{TextId::kLocateFileTitle, u"Locate File (%s)"},
    OwnEntry{TextId::kSelectWorkDirTitle, u"Select a Working Directory"},
    OwnEntry{TextId::kSelectFolderTitle, u"Select a Folder"},
    OwnEntry{TextId::kSelectFilesTitle, u"Select Files to Upload"},
    OwnEntry{TextId::kSelectDownloadDirTitle, u"Select a directory to download files to"},
    OwnEntry{TextId::kSelectFileTitle, u"Select File to Upload"},
    OwnEntry{TextId::kRunFailed, u"Failed to run \"%s\", Error: %d"},
    OwnEntry{TextId::kAllowFileAccess,
             u"An attempt to access a file \"%s\" was made. Do you want to allow it?"},
    OwnEntry{TextId::kDownloadDirDenied,
             u"An access was denied while retrieving a file to an unauthorized directory."},
    OwnEntry{TextId::kUnhandledException, u"An unhandled exception occured in ActiveX control."},
    OwnEntry{TextId::kErrorOccurred, u"An error occured"},
    OwnEntry{TextId::kHarmfulFileBlocked,
             u"An attempt to open or execute potentially harmful file was blocked."},
    OwnEntry{TextId::kApplicationTitle, u"Quillstone Web Client"},
};

}  // namespace

std::optional<std::u16string_view> OwnText(uint32_t id) {
  for (const OwnEntry& entry : kOwnTexts) {
    if (ToUint(entry.id) == id) return entry.text;
  }
  return std::nullopt;
}

}  // namespace qs
