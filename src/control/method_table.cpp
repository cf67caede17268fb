#include "control/method_table.h"

#include <array>

#include "base/text.h"
#include "control/control.h"

namespace qs {

namespace {

using enum ValueType;

// Parameter lists, named as in the published interface description.
constexpr ParamInfo kFileParam[] = {{u"file", kString}};
constexpr ParamInfo kAbsNameParam[] = {{u"absName", kString}};
constexpr ParamInfo kAbsNameTimeParams[] = {{u"absName", kString}, {u"updateTime", kString}};
constexpr ParamInfo kRecursivelyParam[] = {{u"recursively", kBool}};
constexpr ParamInfo kFilesParam[] = {{u"files", kVariant}};
constexpr ParamInfo kUploadParams[] = {
    {u"url", kString}, {u"firstFile", kBool}, {u"fileName", kString}, {u"chunkSize", kUInt32}};
constexpr ParamInfo kDownloadParams[] = {{u"Url", kString}, {u"filePath", kString}};
constexpr ParamInfo kTicketParam[] = {{u"fileTicket", kUInt32}};
constexpr ParamInfo kLanguageParams[] = {
    {u"language", kString}, {u"resourceVersion", kString}, {u"resourceUrl", kString}};
constexpr ParamInfo kFilePathParam[] = {{u"filePath", kString}};
constexpr ParamInfo kScopeIdParam[] = {{u"scopeId", kString}};
constexpr std::span<const ParamInfo> kNoParams;

Variant FromString(const ScriptString& s) { return s.ToVariant(); }
Variant None() { return Variant(); }

}  // namespace

std::span<const MethodEntry> MethodTable::Entries() {
  using C = CQSFileTransferCtrl;
  using A = const ScriptArgs&;
  constexpr auto kM = MemberKind::kMethod;
  constexpr auto kP = MemberKind::kProperty;
  // One entry per line, in table order: dispatch number, name, described name, kind,
  // parameters, result, handler (and, for properties, the write).
  static const std::
      array<MethodEntry, 28>
          kEntries =
              {
                  {
                      {3, u"Open", u"Open", kM, kFileParam, kNone,
                       [](C& c, A a) {
                         c.Open(a.String(0));
                         return None();
                       },
                       nullptr},
                      {2, u"DeleteFile", u"DeleteFile", kM, kAbsNameParam, kNone,
                       [](C& c, A a) {
                         c.DeleteFile(a.String(0));
                         return None();
                       },
                       nullptr},
                      {5, u"SelectExportDir", u"selectExportDir", kM, kNoParams, kString,
                       [](C& c, A) { return FromString(c.SelectExportDir()); }, nullptr},
                      {12, u"SelectDownloadDir", u"selectDownloadDir", kM, kNoParams, kString,
                       [](C& c, A) { return FromString(c.SelectDownloadDir()); }, nullptr},
                      {8, u"ChooseWorkDir", u"chooseWorkDirWrapper", kM, kNoParams, kBool,
                       [](C& c, A) { return Variant::Bool(c.ChooseWorkDir()); }, nullptr},
                      {9, u"ChangeWorkDir", u"changeWorkDirWrapper", kM, kNoParams, kBool,
                       [](C& c, A) { return Variant::Bool(c.ChangeWorkDir()); }, nullptr},
                      {10, u"CheckWorkDir", u"checkWorkDirWrapper", kM, kNoParams, kBool,
                       [](C& c, A) { return Variant::Bool(c.CheckWorkDir()); }, nullptr},
                      {7, u"FileExist", u"FileExist", kM, kAbsNameParam, kBool,
                       [](C& c, A a) { return Variant::Bool(c.FileExist(a.String(0))); }, nullptr},
                      {13, u"FileChanged", u"FileChanged", kM, kAbsNameTimeParams, kBool,
                       [](C& c, A a) {
                         return Variant::Bool(c.FileChanged(a.String(0), a.String(1)));
                       },
                       nullptr},
                      {14, u"UpdateFileTime", u"UpdateFileTime", kM, kAbsNameTimeParams, kNone,
                       [](C& c, A a) {
                         c.UpdateFileTime(a.String(0), a.String(1));
                         return None();
                       },
                       nullptr},
                      {0, u"Url", u"Url", kP, kNoParams, kString,
                       [](C& c, A) { return FromString(c.GetUrl()); },
                       [](C& c, const ScriptString& v) { c.SetUrl(v); }},
                      {1, u"UserWorkDir", u"UserWorkDir", kP, kNoParams, kString,
                       [](C& c, A) { return FromString(c.GetUserWorkDir()); },
                       [](C& c, const ScriptString& v) { c.SetUserWorkDir(v); }},
                      {4, u"DatasourceName", u"DatasourceName", kP, kNoParams, kString,
                       [](C& c, A) { return FromString(c.GetDatasourceName()); },
                       [](C& c, const ScriptString& v) { c.SetDatasourceName(v); }},
                      {29, u"SelectFilesInFolder", u"selectFilesInFolder", kM, kRecursivelyParam,
                       kVariant, [](C& c, A a) { return c.SelectFilesInFolder(a.Bool(0)); },
                       nullptr},
                      {11, u"SelectFiles", u"selectFiles", kM, kNoParams, kVariant,
                       [](C& c, A) { return c.SelectFiles(); }, nullptr},
                      {15, u"GetFileSizes", u"GetFileSizes", kM, kFilesParam, kVariant,
                       [](C& c, A a) { return c.GetFileSizes(a.Any(0)); }, nullptr},
                      {16, u"StartFileUpload", u"StartFileUpload", kM, kUploadParams, kVariant,
                       [](C& c, A a) {
                         return c.StartFileUpload(a.String(0), a.Bool(1), a.String(2), a.UInt32(3));
                       },
                       nullptr},
                      {17, u"StartFileDownload", u"StartFileDownload", kM, kDownloadParams,
                       kVariant,
                       [](C& c, A a) { return c.StartFileDownload(a.String(0), a.String(1)); },
                       nullptr},
                      {19, u"GetTransferStatus", u"GetTransferStatus", kM, kTicketParam, kVariant,
                       [](C& c, A a) { return c.GetTransferStatus(a.UInt32(0)); }, nullptr},
                      {20, u"CancelTransfer", u"CancelTransfer", kM, kTicketParam, kNone,
                       [](C& c, A a) {
                         c.CancelTransfer(a.UInt32(0));
                         return None();
                       },
                       nullptr},
                      {6, u"User", u"User", kP, kNoParams, kString,
                       [](C& c, A) { return FromString(c.GetUser()); },
                       [](C& c, const ScriptString& v) { c.SetUser(v); }},
                      {32, u"SetLanguage", u"SetLanguage", kM, kLanguageParams, kNone,
                       [](C& c, A a) {
                         c.SetLanguage(a.String(0), a.String(1), a.String(2));
                         return None();
                       },
                       nullptr},
                      {31, u"SelectFile", u"selectFile", kM, kNoParams, kString,
                       [](C& c, A) { return FromString(c.SelectFile()); }, nullptr},
                      {33, u"LocateFile", u"locateFile", kM, kFilePathParam, kString,
                       [](C& c, A a) { return FromString(c.LocateFile(a.String(0))); }, nullptr},
                      {34, u"FinishOperation", u"FinishOperation", kM, kNoParams, kNone,
                       [](C& c, A) {
                         c.FinishOperation();
                         return None();
                       },
                       nullptr},
                      {35, u"GetOperationScope", u"GetOperationScope", kM, kNoParams, kString,
                       [](C& c, A) { return FromString(c.GetOperationScope()); }, nullptr},
                      {36, u"SetOperationScope", u"SetOperationScope", kM, kScopeIdParam, kNone,
                       [](C& c, A a) {
                         c.SetOperationScope(a.String(0));
                         return None();
                       },
                       nullptr},
                      {37, u"FolderExist", u"FolderExist", kM, kAbsNameParam, kBool,
                       [](C& c, A a) { return Variant::Bool(c.FolderExist(a.String(0))); },
                       nullptr},
                  }};
  return kEntries;
}

const MethodEntry* MethodTable::FindByName(std::u16string_view name) {
  for (const MethodEntry& entry : Entries()) {
    if (EqualsIgnoreCase(entry.name, name) || EqualsIgnoreCase(entry.described_name, name)) {
      return &entry;
    }
  }
  return nullptr;
}

const MethodEntry* MethodTable::FindById(int32_t dispid) {
  for (const MethodEntry& entry : Entries()) {
    if (entry.dispid == dispid) return &entry;
  }
  return nullptr;
}

}  // namespace qs
