// The control's classes as hosts and installers see them: the entries `qsft register` writes
// under "Software\Classes" in the settings store, their removal, and how `qsft host` finds a
// class by identifier or programmatic name (through those entries when they exist, through the
// built-in classes otherwise).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/guid.h"
#include "platform/settings_store.h"

namespace qs::app {

inline constexpr std::u16string_view kClassesKey = u"Software\\Classes";
// The interface description's file name, installed beside the program.
inline constexpr std::string_view kInterfaceDescriptionFile = "QSFileTransferLib.json";

// Statuses of registration and its removal.
inline constexpr uint32_t kTypeLibRegistrationFailed = 0x80040200;
inline constexpr uint32_t kClassRegistrationFailed = 0x80040201;
inline constexpr uint32_t kClassNotAvailable = 0x80040111;

// The store steps that register the interface description (`description_path`) and the
// classes (served by `program_path`).
std::vector<platform::SettingsOp> TypeLibEntries(std::u16string_view description_path);
std::vector<platform::SettingsOp> ClassEntries(std::u16string_view program_path);
// The keys that removal deletes, with all that is below them.
std::vector<std::u16string> RegisteredKeys();

// Registers the description, then the classes; removes the classes, then the description.
// 0 or one of the statuses above.
uint32_t RegisterControl(const std::string& program_path, const std::string& description_path);
uint32_t UnregisterControl();

enum class ControlClass { kControl, kPropertyPage };

// The class that `name` (a class identifier, braced or not, any letter case; or a programmatic
// name, any letter case) stands for; the failure code otherwise.
struct ClassLookup {
  std::optional<ControlClass> found;
  uint32_t failure = 0;  // kClassNotAvailable when nothing is found
};
ClassLookup FindClass(std::u16string_view name);

// What is registered for the control in the current store, one line each, for `--version`.
std::vector<std::string> DescribeRegistration();

}  // namespace qs::app
