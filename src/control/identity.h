// The identifiers and names by which pages, hosts and installers refer to the control: its class,
// its property page, its interface description and the interfaces it offers.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "base/guid.h"

namespace qs {

inline constexpr Guid kControlClassId = MakeGuid(u"{4E7A1C52-0B3D-4F19-A6E8-2C9D71B05F34}");
inline constexpr std::u16string_view kControlProgId = u"QSFILETRANSFER.QSWebFileTransferCtrl.2.2";
inline constexpr Guid kPropPageClassId = MakeGuid(u"{A1C94F07-5D2E-4B8A-9F31-E06B2D8C47A9}");
inline constexpr std::u16string_view kPropPageProgId =
    u"QSFILETRANSFER.QSWebFileTransferPropPage.2";

inline constexpr Guid kTypeLibId = MakeGuid(u"{6B3F0D28-91E4-4C7D-B25A-F8174C0E93D6}");
inline constexpr std::u16string_view kTypeLibName = u"QSFileTransferLib";
inline constexpr uint16_t kTypeLibMajor = 2;
inline constexpr uint16_t kTypeLibMinor = 2;

inline constexpr Guid kIidDispatchInterface = MakeGuid(u"{C8052E6F-3A71-4D9B-8E4C-5B2A90F1D763}");
inline constexpr std::u16string_view kDispatchInterfaceName = u"_DQSFileTransfer";
inline constexpr std::u16string_view kDispatchInterfaceDoc =
    u"Dispatch interface for QSFileTransfer Control";
inline constexpr Guid kIidEventInterface = MakeGuid(u"{2D9E6B14-F0A3-47C5-B8D2-91E7C3A05F48}");
inline constexpr std::u16string_view kEventInterfaceName = u"_DQSFileTransferEvents";
inline constexpr std::u16string_view kEventInterfaceDoc =
    u"Event interface for QSFileTransfer Control";

inline constexpr std::u16string_view kControlTypeName = u"QSWebFileTransfer Control";
inline constexpr std::u16string_view kPropPageTypeName = u"QSWebFileTransfer Property Page";
// Activate when visible, set client site first, inside-out, cannot link inside, recompose on
// resize.
inline constexpr uint32_t kControlMiscStatus = 0x20191;

inline constexpr Guid kIidUnknown = MakeGuid(u"{00000000-0000-0000-C000-000000000046}");
inline constexpr Guid kIidDispatch = MakeGuid(u"{00020400-0000-0000-C000-000000000046}");
inline constexpr Guid kIidPersistPropertyBag = MakeGuid(u"{37D84F60-42CB-11CE-8135-00AA004BB851}");

struct NamedInterface {
  std::u16string_view name;
  Guid iid;
};

// Every interface the control answers for, by the name hosts use for it.
std::span<const NamedInterface> ControlInterfaces();

}  // namespace qs
