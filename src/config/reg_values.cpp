#include "config/reg_values.h"

#include <string>

#include "base/text.h"
#include "config/store_layout.h"

namespace qs {

namespace {

void AppendUnit(std::vector<uint8_t>& out, char16_t unit) {
  out.push_back(static_cast<uint8_t>(unit & 0xFF));
  out.push_back(static_cast<uint8_t>(unit >> 8));
}

char16_t UnitAt(std::span<const uint8_t> data, size_t i) {
  return static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
}

}  // namespace

std::vector<uint8_t> SzData(std::u16string_view text) {
  std::vector<uint8_t> out;
  out.reserve(2 * (text.size() + 1));
  for (char16_t c : text) AppendUnit(out, c);
  AppendUnit(out, 0);
  return out;
}

std::u16string TextFromData(std::span<const uint8_t> data) {
  std::u16string text;
  const size_t units = data.size() / 2;
  for (size_t i = 0; i < units; ++i) {
    const char16_t c = UnitAt(data, i);
    if (c == 0) break;
    text.push_back(c);
  }
  return text;
}

std::vector<uint8_t> MultiSzData(std::span<const std::u16string> entries) {
  std::vector<uint8_t> out;
  for (const auto& entry : entries) {
    for (char16_t c : entry) AppendUnit(out, c);
    AppendUnit(out, 0);
  }
  AppendUnit(out, 0);
  return out;
}

std::vector<std::u16string> ParseMultiSz(std::span<const uint8_t> data) {
  std::vector<std::u16string> entries;
  std::u16string current;
  const size_t units = data.size() / 2;
  for (size_t i = 0; i < units; ++i) {
    const char16_t c = UnitAt(data, i);
    if (c != 0) {
      current.push_back(c);
      continue;
    }
    if (current.empty()) return entries;  // the list's final NUL
    entries.push_back(std::move(current));
    current.clear();
  }
  if (!current.empty()) entries.push_back(std::move(current));
  return entries;
}

ErrorOr<std::vector<uint8_t>> ReadRegValue(const platform::SettingsKey& key,
                                           std::u16string_view name) {
  auto value = key.Query(name);
  if (!value.ok()) return value.error();
  return std::move(value->data);
}

ErrorOr<bool> MultiSzContains(const platform::SettingsKey& key, std::u16string_view name,
                              std::u16string_view text) {
  if (name.empty() || text.empty()) return ErrorCode::kInvalidParameter;
  auto value = key.Query(name);
  if (!value.ok()) return value.error();
  if (value->type != platform::kRegMultiSz) return false;
  for (const auto& entry : ParseMultiSz(value->data)) {
    if (EqualsIgnoreCase(entry, text)) return true;
  }
  return false;
}

ErrorOr<void> MultiSzAppend(platform::SettingsKey& key, std::u16string_view name,
                            std::u16string_view text) {
  if (name.empty() || text.empty()) return ErrorCode::kInvalidParameter;
  return key.Update(
      name,
      [text](const std::optional<platform::RegValue>& current) -> ErrorOr<platform::RegValue> {
        std::vector<std::u16string> entries;
        if (current && current->type == platform::kRegMultiSz)
          entries = ParseMultiSz(current->data);
        entries.emplace_back(text);
        return platform::RegValue{platform::kRegMultiSz, MultiSzData(entries)};
      });
}

std::vector<std::u16string> ReadNumberedList(std::u16string_view key_path) {
  std::vector<std::u16string> entries;
  auto key = platform::SettingsKey::Open(key_path);
  if (!key.ok()) return entries;
  // One snapshot of the key, so that a list being rewritten is never read half old, half new.
  auto values = key->Values();
  if (!values.ok()) return entries;
  // Each number must name a value present in the snapshot, so the walk ends after at most as
  // many steps as there are values.
  for (size_t n = 1;; ++n) {
    const std::u16string name = FromAscii(std::to_string(n));
    const platform::NamedRegValue* found = nullptr;
    for (const auto& v : *values) {
      if (v.name == name) {  // digits have no case
        found = &v;
        break;
      }
    }
    if (found == nullptr || found->value.data.empty()) break;
    entries.push_back(TextFromData(found->value.data));
  }
  return entries;
}

std::optional<uint32_t> ReadDwordValue(const platform::SettingsKey& key, std::u16string_view name) {
  auto value = key.Query(name);
  if (!value.ok() || value->data.size() > 4) return std::nullopt;
  uint32_t number = 0;
  for (size_t i = 0; i < value->data.size(); ++i) {
    number |= static_cast<uint32_t>(value->data[i]) << (8 * i);
  }
  return number;
}

std::optional<uint32_t> ReadTrustedZoneDisabled() {
  auto key = platform::SettingsKey::Open(PolicyKeyPath(kZoneLock));
  if (!key.ok()) return std::nullopt;
  return ReadDwordValue(*key, kTrustedZoneDisabled);
}

}  // namespace qs
