#include "qsft/control_classes.h"

#include <filesystem>

#include "base/error_codes.h"
#include "base/text.h"
#include "config/reg_values.h"
#include "control/identity.h"

namespace qs::app {

namespace {

using platform::SettingsOp;

std::u16string Key(std::u16string_view below) {
  return std::u16string(kClassesKey) + u"\\" + std::u16string(below);
}
std::u16string ClassKey(const Guid& id) { return Key(u"CLSID\\" + id.ToString()); }
std::u16string TypeLibKey() { return Key(u"TypeLib\\" + kTypeLibId.ToString()); }
std::u16string InterfaceKey(const Guid& id) { return Key(u"Interface\\" + id.ToString()); }

std::u16string TypeLibVersion() {
  return FromAscii(std::to_string(kTypeLibMajor) + "." + std::to_string(kTypeLibMinor));
}

SettingsOp Text(std::u16string key, std::u16string_view name, std::u16string_view text) {
  SettingsOp op;
  op.kind = SettingsOp::Kind::kSetValue;
  op.key = std::move(key);
  op.name = std::u16string(name);
  op.value = platform::RegValue{platform::kRegSz, SzData(text)};
  return op;
}

SettingsOp CreateKey(std::u16string key) {
  SettingsOp op;
  op.kind = SettingsOp::Kind::kCreateKey;
  op.key = std::move(key);
  return op;
}

// The text of a key's default value, when it has one.
std::optional<std::u16string> DefaultText(std::u16string_view key_path) {
  auto key = platform::SettingsKey::Open(key_path);
  if (!key.ok()) return std::nullopt;
  auto value = key->Query(u"");
  if (!value.ok() || (value->type != platform::kRegSz && value->type != platform::kRegExpandSz)) {
    return std::nullopt;
  }
  return TextFromData(value->data);
}

std::optional<ControlClass> BuiltInClass(const Guid& id) {
  if (id == kControlClassId) return ControlClass::kControl;
  if (id == kPropPageClassId) return ControlClass::kPropertyPage;
  return std::nullopt;
}

}  // namespace

std::vector<SettingsOp> TypeLibEntries(std::u16string_view description_path) {
  const std::u16string lib = TypeLibKey() + u"\\" + TypeLibVersion();
  const std::u16string folder =
      FromUtf8(std::filesystem::path(ToUtf8(description_path)).parent_path().string());
  std::vector<SettingsOp> ops{
      Text(lib, u"", kTypeLibName),
      Text(lib + u"\\0\\linux", u"", description_path),
      Text(lib + u"\\FLAGS", u"", u"0"),
      Text(lib + u"\\HELPDIR", u"", folder),
  };
  const std::pair<Guid, std::u16string_view> interfaces[] = {
      {kIidDispatchInterface, kDispatchInterfaceName}, {kIidEventInterface, kEventInterfaceName}};
  for (const auto& [id, name] : interfaces) {
    ops.push_back(Text(InterfaceKey(id), u"", name));
    ops.push_back(Text(InterfaceKey(id) + u"\\TypeLib", u"", kTypeLibId.ToString()));
    ops.push_back(Text(InterfaceKey(id) + u"\\TypeLib", u"Version", TypeLibVersion()));
  }
  return ops;
}

std::vector<SettingsOp> ClassEntries(std::u16string_view program_path) {
  const std::u16string control = ClassKey(kControlClassId);
  const std::u16string page = ClassKey(kPropPageClassId);
  const std::u16string control_id = kControlClassId.ToString();
  return {
      Text(control, u"", kControlTypeName),
      Text(control + u"\\InprocServer32", u"", program_path),
      Text(control + u"\\InprocServer32", u"ThreadingModel", u"Apartment"),
      Text(control + u"\\ProgID", u"", kControlProgId),
      Text(control + u"\\ToolboxBitmap32", u"", std::u16string(program_path) + u", 1"),
      Text(control + u"\\MiscStatus", u"", u"0"),
      Text(control + u"\\MiscStatus\\1", u"", FromAscii(std::to_string(kControlMiscStatus))),
      CreateKey(control + u"\\Control"),
      Text(control + u"\\Verb\\0", u"", u"&Properties,0,2"),
      Text(control + u"\\TypeLib", u"", kTypeLibId.ToString()),
      Text(control + u"\\Version", u"", TypeLibVersion()),
      Text(Key(kControlProgId), u"", kControlTypeName),
      Text(Key(kControlProgId) + u"\\CLSID", u"", control_id),
      Text(page, u"", kPropPageTypeName),
      Text(Key(kPropPageProgId), u"", kPropPageTypeName),
      Text(Key(kPropPageProgId) + u"\\CLSID", u"", kPropPageClassId.ToString()),
  };
}

std::vector<std::u16string> RegisteredKeys() {
  return {
      ClassKey(kControlClassId),
      Key(kControlProgId),
      ClassKey(kPropPageClassId),
      Key(kPropPageProgId),
      InterfaceKey(kIidDispatchInterface),
      InterfaceKey(kIidEventInterface),
      TypeLibKey(),
  };
}

uint32_t RegisterControl(const std::string& program_path, const std::string& description_path) {
  std::error_code error;
  if (description_path.empty() || !std::filesystem::is_regular_file(description_path, error)) {
    return kTypeLibRegistrationFailed;
  }
  if (!platform::ApplySettingsBatch(TypeLibEntries(FromUtf8(description_path))).ok()) {
    return kTypeLibRegistrationFailed;
  }
  if (program_path.empty() ||
      !platform::ApplySettingsBatch(ClassEntries(FromUtf8(program_path))).ok()) {
    return kClassRegistrationFailed;
  }
  return hresult::kOk;
}

uint32_t UnregisterControl() {
  const std::vector<std::u16string> keys = RegisteredKeys();
  std::vector<SettingsOp> classes;
  std::vector<SettingsOp> library;
  for (const auto& key : keys) {
    SettingsOp op;
    op.kind = SettingsOp::Kind::kDeleteKey;
    op.key = key;
    (key.find(u"\\TypeLib\\") != std::u16string::npos ||
             key.find(u"\\Interface\\") != std::u16string::npos
         ? library
         : classes)
        .push_back(std::move(op));
  }
  if (!platform::ApplySettingsBatch(classes).ok()) return kClassRegistrationFailed;
  if (!platform::ApplySettingsBatch(library).ok()) return kTypeLibRegistrationFailed;
  return hresult::kOk;
}

ClassLookup FindClass(std::u16string_view name) {
  std::optional<Guid> id = Guid::Parse(name);
  if (!id) {
    // A programmatic name: its registered class identifier first, then the built-in names.
    if (name.find(u'\\') == std::u16string_view::npos && !name.empty()) {
      if (auto text = DefaultText(Key(std::u16string(name) + u"\\CLSID"))) id = Guid::Parse(*text);
    }
    if (!id && EqualsIgnoreCase(name, kControlProgId)) id = kControlClassId;
    if (!id && EqualsIgnoreCase(name, kPropPageProgId)) id = kPropPageClassId;
  }
  if (id) {
    if (auto found = BuiltInClass(*id)) return ClassLookup{found, hresult::kOk};
  }
  return ClassLookup{std::nullopt, kClassNotAvailable};
}

std::vector<std::string> DescribeRegistration() {
  std::vector<std::string> lines;
  const auto server = DefaultText(ClassKey(kControlClassId) + u"\\InprocServer32");
  if (server) {
    lines.push_back("control class " + ToUtf8(kControlClassId.ToString()) +
                    " registered: " + ToUtf8(*server));
  } else {
    lines.push_back("control class " + ToUtf8(kControlClassId.ToString()) +
                    " not registered; the built-in class serves");
  }
  const auto description = DefaultText(TypeLibKey() + u"\\" + TypeLibVersion() + u"\\0\\linux");
  if (description) {
    lines.push_back("interface description " + ToUtf8(kTypeLibId.ToString()) + " " +
                    ToUtf8(TypeLibVersion()) + " registered: " + ToUtf8(*description));
  } else {
    lines.push_back("interface description " + ToUtf8(kTypeLibId.ToString()) + " " +
                    ToUtf8(TypeLibVersion()) + " not registered");
  }
  return lines;
}

}  // namespace qs::app
