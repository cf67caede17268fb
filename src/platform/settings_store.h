// The settings store: a tree of keys and typed values under the current user's hive, with the
// semantics of the platform registry that the web client's settings and policies were laid out in.
//
// Contract shared by every operation:
// - Key paths are relative to the user's hive: components joined by "\", no leading, trailing or
//   doubled separator, each component 1 to 255 characters; the empty path is the hive itself.
//   Key and value names are compared without regard to case (the names keep the case in which
//   they were first written).
// - A value has a type (kRegSz ... kRegMultiSz, or any other number an administrator imported)
//   and raw data bytes exactly as the registry holds them: strings are UTF-16LE with their NUL,
//   multi-strings end with an extra NUL, zero-length data is allowed. Nothing is converted.
// - Results carry the registry's status codes: 2 key or value absent, 5 the store cannot be
//   opened for writing, 87 malformed path or name, 234 a buffer too small for the data, 1015 the
//   store file is damaged or not a settings store, 1016 an I/O failure, 1018 the key behind an
//   open handle has been deleted, 170 another process held the store for longer than the busy
//   time-out.
// - Nothing is cached: every call opens the store afresh (reading $XDG_CONFIG_HOME, or
//   ~/.config when it is unset, at that moment) and each write is one transaction, so several
//   processes can use one store at once and the last writer wins.
// - A store that cannot be opened or is damaged reads as empty (keys absent) and refuses every
//   write with 1015 (damaged) or 5 (cannot be opened); it is never overwritten or repaired.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"

namespace qs::platform {

constexpr uint32_t kRegNone = 0;
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kRegMultiSz = 7;

// Longest key name component and value name the store accepts, in UTF-16 units.
constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;
// Most components a key path may have below the hive.
constexpr size_t kMaxKeyDepth = 512;
// Largest value data a file import takes, in bytes.
constexpr size_t kMaxImportedValueBytes = 64 * 1024 * 1024;

struct RegValue {
  uint32_t type = kRegNone;
  std::vector<uint8_t> data;
};

struct RegValueInfo {
  uint32_t type = kRegNone;
  uint32_t size = 0;  // bytes
};

struct NamedRegValue {
  std::u16string name;  // "" is the key's default value
  RegValue value;
};

// The file that holds the current user's store, as the environment names it now.
std::string SettingsStorePath();

// An open key. It remembers only where the key is; every operation goes to the store afresh.
class SettingsKey {
 public:
  // Opens an existing key: 2 when it (or the store) does not exist.
  static ErrorOr<SettingsKey> Open(std::u16string_view path);
  // Opens a key, creating it and every missing parent in one transaction.
  static ErrorOr<SettingsKey> Create(std::u16string_view path);

  SettingsKey(SettingsKey&&) = default;
  SettingsKey& operator=(SettingsKey&&) = default;
  SettingsKey(const SettingsKey&) = delete;
  SettingsKey& operator=(const SettingsKey&) = delete;
  ~SettingsKey() = default;

  // The key's path with each name spelled as the store holds it.
  const std::u16string& path() const { return path_; }

  // Type and size of a value; 2 when absent.
  ErrorOr<RegValueInfo> QueryInfo(std::u16string_view name) const;
  // Copies the data into `buffer` and returns the bytes written; 234 (with nothing useful in
  // `buffer`) when the data no longer fits, for instance because another writer grew it since
  // QueryInfo.
  ErrorOr<uint32_t> QueryData(std::u16string_view name, std::span<uint8_t> buffer) const;
  // Type and data read together, as one consistent snapshot.
  ErrorOr<RegValue> Query(std::u16string_view name) const;

  // Creates or replaces a value.
  ErrorOr<void> Set(std::u16string_view name, uint32_t type, std::span<const uint8_t> data);
  // 2 when the value is absent.
  ErrorOr<void> DeleteValue(std::u16string_view name);

  // Read-modify-write of one value that loses no concurrent writer: the value is read and the
  // result of `change` written inside one write transaction that holds the store against other
  // writers. `change` sees the current value (nullopt when absent) and returns the value to
  // write, or an error that abandons the update with nothing written.
  using ValueChange = std::function<ErrorOr<RegValue>(const std::optional<RegValue>& current)>;
  ErrorOr<void> Update(std::u16string_view name, const ValueChange& change);

  // Direct subkeys (names as written) in case-insensitive name order, and values in the order
  // they were first written; for export.
  ErrorOr<std::vector<std::u16string>> SubKeys() const;
  ErrorOr<std::vector<NamedRegValue>> Values() const;

 private:
  explicit SettingsKey(std::u16string path) : path_(std::move(path)) {}
  std::u16string path_;
};

// Deletes a key with all its subkeys and values; 2 when it does not exist. The hive itself
// cannot be deleted (87).
ErrorOr<void> DeleteSettingsKey(std::u16string_view path);

// One step of a batch. Keys are created with their parents; deleting an absent key or value is
// not an error inside a batch.
struct SettingsOp {
  enum class Kind { kCreateKey, kDeleteKey, kSetValue, kDeleteValue };
  Kind kind = Kind::kCreateKey;
  std::u16string key;
  std::u16string name;  // values only
  RegValue value;       // kSetValue only
};

// Applies every step in order in one transaction: all of them take effect or none does.
ErrorOr<void> ApplySettingsBatch(std::span<const SettingsOp> ops);

// The same, for steps that come one at a time from a producer that cannot hold them all (a
// file import): each step is applied as it comes, inside one transaction that holds the
// store's write lock until Commit makes every step take effect together. A batch destroyed
// without a successful Commit leaves the store as it was.
class SettingsBatch {
 public:
  static ErrorOr<SettingsBatch> Begin();

  SettingsBatch(SettingsBatch&&) noexcept;
  SettingsBatch& operator=(SettingsBatch&&) noexcept;
  SettingsBatch(const SettingsBatch&) = delete;
  SettingsBatch& operator=(const SettingsBatch&) = delete;
  ~SettingsBatch();

  // A failed step leaves the batch to be abandoned: Commit would keep the steps before it.
  ErrorOr<void> Apply(const SettingsOp& op);
  ErrorOr<void> Commit();

 private:
  struct Connection;
  explicit SettingsBatch(std::unique_ptr<Connection> connection);
  std::unique_ptr<Connection> connection_;
};

}  // namespace qs::platform
