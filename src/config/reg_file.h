// The text format administrators deploy settings in: "Windows Registry Editor Version 5.00".
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\SOFTWARE\Policies\Tarnholt\Quillstone Web Client\SiteLock]
//   "1"="https://intranet.example"
//   @="the default value"
//   "Flag"=dword:00000001
//   "Bytes"=hex:01,02,\    (a "\" at the end of the line continues hex data)
//     03
//   "List"=hex(7):61,00,00,00,00,00
//   "Gone"=-
//
//   [-HKEY_CURRENT_USER\SOFTWARE\Obsolete]
//
// Read: UTF-8 (with or without a byte-order mark) or UTF-16LE with its byte-order mark, LF or
// CRLF line ends; lines starting with ";" are comments. Keys may be written with or without the
// "HKEY_CURRENT_USER\" (or "HKCU\") prefix; keys of any other hive are refused. Strings escape
// only "\\" and "\""; hex data continues onto the next line after a "\" at the end of a line.
// Parsing is strict and all-or-nothing: the first syntax error is reported with its line and
// nothing is applied. Files are read as a stream, so a file of any size costs no more memory
// than its largest value; the registry's limits hold (a key path of at most 512 names of at
// most 255 characters, value names of at most 16,383, values of at most 64 MiB).
//
// Written: UTF-8 with LF line ends. Every value comes back byte for byte when the file is read
// again: a string that the quoted form cannot carry (no final NUL, an embedded NUL or line
// break, an unpaired surrogate) and a DWORD that is not four bytes are written as hex(1): and
// hex(4):.
#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "platform/settings_store.h"

namespace qs {

inline constexpr std::string_view kRegFileHeader = "Windows Registry Editor Version 5.00";

struct RegFileParse {
  std::vector<platform::SettingsOp> ops;  // in file order
  size_t error_line = 0;                  // 1-based; 0 when the file parsed
  std::string error;                      // what is wrong on error_line

  bool ok() const { return error_line == 0; }
};

// Decodes and parses a whole file held in memory.
RegFileParse ParseRegFile(std::string_view bytes);

// Where a file's bytes come from: fills `buffer` from its start and returns how many bytes it
// put there, 0 at the end of the file.
using RegFileSource = std::function<ErrorOr<size_t>(std::span<char> buffer)>;
// Takes each step of a file as soon as it has been read; an error stops the reading.
using RegFileSink = std::function<ErrorOr<void>(platform::SettingsOp op)>;

struct RegFileRead {
  size_t error_line = 0;  // 1-based line of a syntax error (or of unreadable text); 0 when none
  std::string error;      // what is wrong on error_line
  ErrorOr<void> status;   // the source's or the sink's error, when one stopped the reading

  bool ok() const { return error_line == 0 && status.ok(); }
};

// Reads a file piece by piece and hands every step to `sink` in file order as soon as it is
// complete, so that at most one value (with the piece of the file being decoded) is held at a
// time, however large the file. Stops at the first syntax error or failure; the steps handed
// over before it are the caller's to undo (a settings batch that is not committed).
RegFileRead ReadRegFile(const RegFileSource& source, const RegFileSink& sink);

// A key path as administrators write it ("HKEY_CURRENT_USER\A\B", "HKCU\A\B" or "A\B") made
// relative to the user's hive; "HKEY_CURRENT_USER" alone is the hive itself (""). 87 for
// another hive or a malformed path (empty, doubled, leading or trailing "\", a component over
// 255 characters).
ErrorOr<std::u16string> HiveRelativeKeyPath(std::u16string_view text);

// "HKEY_CURRENT_USER" followed by "\" and `path` unless it is the hive itself.
std::u16string FullKeyName(std::u16string_view path);

// One value as a line of the file (continuation lines included), without the final line end.
std::string FormatRegValue(const platform::NamedRegValue& value);

// Takes the exported file piece by piece; an error stops the export.
using RegFileWriter = std::function<ErrorOr<void>(std::string_view text)>;

// The key at `path` with its values and its whole subtree, parents before children and
// subkeys in name order, as a complete file handed to `write` a line (a key's name, one value)
// at a time, so that no more than one key's values are held at once. 2, with nothing written,
// when the key does not exist.
ErrorOr<void> ExportRegFile(std::u16string_view path, const RegFileWriter& write);

}  // namespace qs
