// The access decision for every local path a page names.
//
// A page may script the control and name any path, so nothing touches a local file before
// CheckAccess has said yes. A path is allowed when it lies in the working directory of the
// datasource and user, or inside what the user has just shown with a picker (the operation
// scope), or in a folder where the user located a file in this process.
//
// Directories are compared exactly (file names are case-sensitive), and a grant G covers a
// directory D only at a directory boundary: D equals G, or D begins with G and either G ends
// with "/" or D continues with "/" right after G. So a grant of .../WebWorkDir/DS1 never opens
// .../WebWorkDir/DS10.
//
// No grant of a directory reaches hidden files or folders below it: a path whose part below the
// granting directory (working directory, scope directory, located directory) has a component
// beginning with "." is refused by that grant, whatever the operation. The granting directory
// itself may lie inside a hidden folder (the default working directory does). A file picked one
// by one is the user's own choice and passes as picked.
//
// One AccessGuard belongs to one control and is used on that control's thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "workdir/operation_scope.h"

namespace qs {

class AccessGuard {
 public:
  // Resolves the working directory without asking the user (the check-only resolution); empty
  // when there is none. Called at every access check.
  using WorkDirResolver = std::function<std::u16string()>;

  explicit AccessGuard(WorkDirResolver resolve_work_dir);

  // Whether `path` may be used for a purpose within `mask`. A null path reads as
  // empty and is refused. `qualified` (may be null) receives the qualified path (QualifyPath,
  // "/" separators), empty when qualification failed. Every caller acts on that qualified path,
  // never on the text as given, so that the check and the action see the same file.
  [[nodiscard]] bool CheckAccess(std::u16string_view path, AccessMask mask,
                                 std::u16string* qualified = nullptr);

  // Replaces the directory scope (and drops the picked files) with `dir` of `kind`. kNone only
  // clears the scope, and so does a directory that does not qualify. kLocatedDir also records
  // the directory for the whole process.
  void SetScopeDir(std::u16string_view dir, ScopeKind kind);
  // Adds `path`, exactly as given, to the picked files.
  void GrantFile(std::u16string_view path);
  // Removes `path` from the picked files, so that a picked file is uploaded once per grant.
  void RevokeFile(std::u16string_view path);
  // No directory scope, no picked files.
  void ClearScope();

  const OperationScope& scope() const { return scope_; }
  void ReplaceScope(OperationScope scope) { scope_ = std::move(scope); }
  // The working directory as last resolved and qualified; empty until a resolution succeeded.
  const std::u16string& work_dir() const { return work_dir_; }

 private:
  WorkDirResolver resolve_work_dir_;
  std::u16string work_dir_;
  OperationScope scope_;
};

// Whether grant directory `grant` covers directory `dir` (both qualified) at a directory
// boundary, compared exactly. An empty grant covers nothing.
bool GrantCoversDirectory(std::u16string_view grant, std::u16string_view dir);

// Scope hand-over between controls of one process, through the process-wide registry.

// Withdraws the control's published scope (`published_id`, emptied), if it has one.
void ReleasePublishedScope(std::u16string& published_id);
// Publishes a copy of the guard's scope under a new identifier (36 characters, lower case),
// withdrawing the one published before; `published_id` becomes the new identifier, returned.
std::u16string PublishOperationScope(const AccessGuard& guard, std::u16string& published_id);
// Adopts the scope published under `id`, once: the record leaves the registry. An empty, unknown
// or already adopted identifier changes nothing.
void AdoptOperationScope(AccessGuard& guard, std::u16string_view id);
// Ends the control's scope and withdraws what it published.
void FinishOperation(AccessGuard& guard, std::u16string& published_id);

}  // namespace qs
