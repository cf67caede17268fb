// The store operations the rest of the client uses on an open settings key, and the readers of
// the policy conventions (numbered lists, DWORD switches).
//
// Statuses are the store's own (see platform/settings_store.h); callers tell apart 0, 2 (value
// not found) and the rest. Nothing here caches: each call reads the store afresh.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "platform/settings_store.h"

namespace qs {

// --- Data layouts ---------------------------------------------------------------------------

// A string as the registry stores it: UTF-16LE with its terminating NUL.
std::vector<uint8_t> SzData(std::u16string_view text);
// The text of string data: UTF-16LE up to the first NUL or the end; an odd last byte, which
// cannot belong to a UTF-16 unit, is ignored.
std::u16string TextFromData(std::span<const uint8_t> data);
// A multi-string: each entry with its NUL, then one more NUL. Entries must not be empty (an
// empty string ends the list).
std::vector<uint8_t> MultiSzData(std::span<const std::u16string> entries);
// The entries of multi-string data, in order, up to the first empty string. Empty data, or data
// holding only the final NUL, is an empty list; a last entry lacking its NUL still counts.
std::vector<std::u16string> ParseMultiSz(std::span<const uint8_t> data);

// --- Store operations -----------------------------------------------------------------------

// The raw data of a value, whatever its type, read as one snapshot (so it cannot be torn by a
// concurrent writer); 2 when the value is absent.
ErrorOr<std::vector<uint8_t>> ReadRegValue(const platform::SettingsKey& key,
                                           std::u16string_view name);

// Whether the REG_MULTI_SZ value `name` holds `text`, comparing whole entries without regard
// to case. 87 when `name` or `text` is empty; 2 when the value is absent; any other read
// status as it came. A value of another type holds nothing (true result: false).
ErrorOr<bool> MultiSzContains(const platform::SettingsKey& key, std::u16string_view name,
                              std::u16string_view text);

// Appends `text` to the REG_MULTI_SZ value `name` (no duplicate check). An absent value, or one
// of another type, becomes a one-entry list. 87 when `name` or `text` is empty. The read and
// the write form one write transaction: two processes appending at once both keep their entry.
// Entries hidden behind an empty string in malformed data are not carried over.
ErrorOr<void> MultiSzAppend(platform::SettingsKey& key, std::u16string_view name,
                            std::u16string_view text);

// --- Policy conventions ---------------------------------------------------------------------

// The numbered list under the key at `key_path`: the values "1", "2", ... (decimal, no leading
// zeros) in that order, each read as text whatever its type, ending at the first number that is
// absent. A value whose data has zero bytes also ends the list: it holds no entry, and stopping
// is the cautious reading for lists that grant trust. An absent key is an empty list.
std::vector<std::u16string> ReadNumberedList(std::u16string_view key_path);

// A value read as a DWORD into four bytes that start as zero, whatever its type: shorter data
// is read as a little-endian number, longer data counts as no value, as does an absent one.
std::optional<uint32_t> ReadDwordValue(const platform::SettingsKey& key, std::u16string_view name);

// The policy "TrustedZoneDisabled" under "ZoneLock", as ReadDwordValue reads it.
std::optional<uint32_t> ReadTrustedZoneDisabled();

}  // namespace qs
