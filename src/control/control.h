// CQSFileTransferCtrl: the one control object a page of the web client creates and drives
// from script.
//
// Every operation is reached through the method table (method_table.h) by Invoke or InvokeById,
// which convert the arguments, call one handler and return its typed result. Script calls,
// property exchange, drawing, construction and destruction all happen on the page's thread, one
// at a time; transfers' worker threads never touch the control.
//
// Failures that an operation foresees come back in its result (an empty string, false, a
// message text, nothing). A call the dispatch layer refuses (unknown name, wrong count, an
// argument it cannot convert) and a failure raised inside a routine come back as InvokeResult
// codes; nothing is thrown out of Invoke.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "base/variant.h"
#include "control/client_site.h"
#include "control/property_bag.h"
#include "control/script_value.h"
#include "resources/downloadable_resources.h"
#include "transfer/internet_handle.h"
#include "transfer/ref_ptr.h"
#include "transfer/transferred_file.h"
#include "trust/object_safety.h"
#include "workdir/access_guard.h"

namespace qs {

enum class InvokeKind { kMethod, kPropertyGet, kPropertyPut };

struct InvokeResult {
  uint32_t hresult = 0;
  Variant value;
  std::u16string message;  // why a call was refused or failed; empty on success
  bool ok() const { return hresult == 0; }
};

// Version stamp written first by every property save: major 2, minor 2.
inline constexpr int32_t kControlVersion = 0x00020002;
// Url's value when the host initialises the control without one.
inline constexpr std::u16string_view kNoUrl = u"ERROR:NO_URL";

struct MethodEntry;
struct PickerContext;
enum class WorkDirMode;

// The directions of the property exchange with the host.
enum class PropertyExchange { kLoad, kReset, kSave };

class CQSFileTransferCtrl final : private SafetyOwner {
 public:
  explicit CQSFileTransferCtrl(std::shared_ptr<ClientSite> site);
  ~CQSFileTransferCtrl() override;
  CQSFileTransferCtrl(const CQSFileTransferCtrl&) = delete;
  CQSFileTransferCtrl& operator=(const CQSFileTransferCtrl&) = delete;

  // By name (any letter case, "…Wrapper" aliases too) or by dispatch number. A property put takes
  // the value as args[0]; kMethod on a property name reads it, as script hosts do.
  InvokeResult Invoke(std::u16string_view name, InvokeKind kind, const std::vector<Variant>& args);
  InvokeResult InvokeById(int32_t dispid, InvokeKind kind, const std::vector<Variant>& args);

  void LoadProperties(PropertyBag& bag);  // supplied values by name, defaults for the rest
  void ResetProperties();                 // every property takes its default
  void SaveProperties(
      PropertyBag& bag);  // version stamp, the base's own properties, then the four, in order

  void Draw(Canvas& canvas, const Rect& bounds);

  // Internal operations that the other parts of the control build on.

  // The hosting page's address and zone, asked afresh from the site at every call. A failure
  // carries a component-model result code (kFail: no site, or a site that shows no page).
  ErrorOr<PageIdentity> GetPageUrlAndZone() const;
  // Opens the HTTP session on first need; false (the thread's last error set) when it cannot.
  // Only the methods that need the network call it.
  [[nodiscard]] bool EnsureSession();
  bool session_open() const { return static_cast<bool>(session_); }
  // Hands the site's cookies for the page to the session, so the requests opened next carry
  // them as the browser's own requests would.
  void TakeSiteCookies();
  // The cookies that the servers' answers set or removed since the last call, for a host that
  // hands them back to the embedding browser. Never reachable from a page.
  std::vector<platform::HttpCookieChange> TakeCookieChanges();
  // A message text or dialog title by id, taken at the moment it is needed.
  std::u16string GetString(TextId id);
  DownloadableResources& texts() { return *texts_; }
  ClientSite* site() const { return site_.get(); }
  // The access decision for local paths (CheckAccess) and its grants (GrantFile, RevokeFile).
  AccessGuard& access_guard() { return access_guard_; }
  // The transfer the page polls and cancels, for hosts that show more than the page reads (its
  // end state, a download's announced length). Never reachable from a page.
  RefPtr<TransferredFile> current_transfer() const { return current_transfer_; }

  // Interface negotiation: 0 when the control offers the interface, else E_NOINTERFACE.
  uint32_t QueryInterface(const Guid& iid) const override;
  // The object-safety negotiation with the browser (the site lock decides).
  XObjSafe& object_safety() { return object_safety_; }
  uint32_t safety_options() const { return safety_options_; }

 private:
  friend class MethodTable;        // routes script calls to the handlers below
  friend class ControlTestAccess;  // tests: the transfer slot

  // The one routine behind load, reset and save (property_exchange.cpp); `bag` is null for reset.
  void ExchangeProperties(PropertyExchange direction, PropertyBag* bag);
  InvokeResult Dispatch(const MethodEntry& entry, InvokeKind kind,
                        const std::vector<Variant>& args);

  // What the object-safety negotiation asks of the control.
  std::optional<HostingPage> PageForSiteLock() const override;
  uint32_t& SafetyOptions() override { return safety_options_; }
  // Keeps hold of a transfer that a new start took the slot from while it still runs, so that
  // the control's end can cancel it too.
  void KeepReplaced(RefPtr<TransferredFile> previous);

  // Handlers of the method table, one per entry, grouped by the files that implement them.

  // Properties (handlers_properties.cpp).
  ScriptString GetUrl() const { return url_; }
  void SetUrl(const ScriptString& value) { url_ = value.str(); }
  ScriptString GetUserWorkDir() const { return user_work_dir_; }
  void SetUserWorkDir(const ScriptString& value) { user_work_dir_ = value.str(); }
  ScriptString GetDatasourceName() const { return datasource_name_; }
  void SetDatasourceName(const ScriptString& value) { datasource_name_ = value.str(); }
  ScriptString GetUser() const;
  void SetUser(const ScriptString& value);

  // Local files (handlers_local_files.cpp).
  void Open(const ScriptString& file);
  void DeleteFile(const ScriptString& abs_name);
  bool FileExist(const ScriptString& abs_name);
  bool FolderExist(const ScriptString& abs_name);
  bool FileChanged(const ScriptString& abs_name, const ScriptString& update_time);
  void UpdateFileTime(const ScriptString& abs_name, const ScriptString& update_time);

  // Pickers (handlers_pickers.cpp).
  ScriptString SelectExportDir();
  ScriptString SelectDownloadDir();
  Variant SelectFilesInFolder(bool recursively);
  Variant SelectFiles();
  ScriptString SelectFile();
  ScriptString LocateFile(const ScriptString& file_path);
  // The dialogs, grants and texts the pickers work with.
  PickerContext MakePickerContext();

  // Working directory (handlers_workdir.cpp).
  bool ChooseWorkDir();
  bool ChangeWorkDir();
  bool CheckWorkDir();
  // The working directory of this control's datasource and user (workdir/work_dir.h), empty
  // when there is none; on success UserWorkDir holds it. Access decisions call it with kCheck.
  std::u16string ResolveWorkDir(WorkDirMode mode);

  // Operation scope (handlers_scope.cpp).
  void FinishOperation();
  ScriptString GetOperationScope();
  void SetOperationScope(const ScriptString& scope_id);
  // Withdraws this control's published scope from the process-wide registry, if it has one.
  void WithdrawPublishedScope();

  // Transfers (handlers_download.cpp, handlers_upload.cpp, handlers_transfer_status.cpp).
  Variant StartFileDownload(const ScriptString& url, const ScriptString& file_path);
  Variant GetFileSizes(const Variant& files);
  Variant StartFileUpload(const ScriptString& url, bool first_file, const ScriptString& file_name,
                          uint32_t chunk_size);
  Variant GetTransferStatus(uint32_t file_ticket);
  void CancelTransfer(uint32_t file_ticket);

  // Language (handlers_language.cpp).
  void SetLanguage(const ScriptString& language, const ScriptString& resource_version,
                   const ScriptString& resource_url);

  // What the host gave the control.
  std::shared_ptr<ClientSite> site_;

  // The base's own persistent properties: the control's size in 0.01 mm (by default 100 by 50
  // pixels at 96 dots per inch), and which stock properties it uses (none).
  static constexpr int32_t kDefaultExtentX = 2646;
  static constexpr int32_t kDefaultExtentY = 1323;
  int32_t extent_x_;
  int32_t extent_y_;
  int32_t stock_props_ = 0;

  // The control's own fields, in declaration order.
  std::u16string url_;
  std::u16string user_work_dir_;
  std::u16string datasource_name_;
  std::u16string user_;                       // always sanitized: no "/" or "\"
  RefPtr<TransferredFile> current_transfer_;  // the transfer the page polls and cancels
  // Earlier transfers of this control whose workers may still run; cancelled at its end.
  std::vector<RefPtr<TransferredFile>> replaced_transfers_;
  InternetHandle session_;       // opened on first need, closed at destruction
  uint32_t safety_options_ = 0;  // object-safety options in force
  XObjSafe object_safety_{*this};
  std::u16string published_scope_id_;  // where this control published its scope
  // The working directory as last resolved and the operation scope the pickers fill: asked
  // before any local path is touched.
  AccessGuard access_guard_;
  std::unique_ptr<DownloadableResources> texts_;
};

}  // namespace qs
