#include "workdir/access_guard.h"

#include <algorithm>

#include "platform/unique_id.h"
#include "workdir/path_qualify.h"
#include "workdir/scope_registry.h"

namespace qs {

namespace {

// Whether the part of `path` below `grant` (a grant that covers it) has a component beginning
// with ".". Hidden files and folders hold what runs at the next login or shell start and the
// desktop's settings; a grant of the folder above them never reaches them. The grant itself may
// lie inside a hidden folder.
bool HiddenBelowGrant(std::u16string_view grant, std::u16string_view path) {
  std::u16string_view below = path.substr(std::min(grant.size(), path.size()));
  while (!below.empty()) {
    while (!below.empty() && IsPathSeparator(below.front())) below.remove_prefix(1);
    if (!below.empty() && below.front() == u'.') return true;
    const size_t next = below.find_first_of(u"/\\");
    below = next == std::u16string_view::npos ? std::u16string_view() : below.substr(next);
  }
  return false;
}

}  // namespace

bool GrantCoversDirectory(std::u16string_view grant, std::u16string_view dir) {
  if (grant.empty() || !dir.starts_with(grant)) return false;
  if (dir.size() == grant.size()) return true;
  return EndsWithSeparator(grant) || IsPathSeparator(dir[grant.size()]);
}

AccessGuard::AccessGuard(WorkDirResolver resolve_work_dir)
    : resolve_work_dir_(std::move(resolve_work_dir)) {}

bool AccessGuard::CheckAccess(std::u16string_view path, AccessMask mask,
                              std::u16string* qualified) {
  if (qualified) qualified->clear();

  // The working directory is resolved afresh at every check; a resolution that fails keeps the
  // directory resolved before.
  if (resolve_work_dir_) {
    const std::u16string resolved = resolve_work_dir_();
    if (!resolved.empty()) {
      if (std::u16string q = QualifyPath(resolved); !q.empty()) work_dir_ = std::move(q);
    }
  }

  std::u16string full = QualifyPath(path);
  if (full.empty()) return false;
  const std::u16string_view dir = DirectoryPart(full);
  if (qualified) *qualified = full;
  if (dir.empty()) return false;

  if (mask.HasAny(scope::kAnyWorkDir) && GrantCoversDirectory(work_dir_, dir) &&
      !HiddenBelowGrant(work_dir_, full)) {
    return true;
  }
  if (mask.Has(ScopeBit::kPickedFile) && scope_.picked_files.contains(std::u16string(path))) {
    return true;
  }
  if (scope_.kind != ScopeKind::kNone && mask.HasAny(GrantedBits(scope_.kind)) &&
      GrantCoversDirectory(scope_.dir, dir) && !HiddenBelowGrant(scope_.dir, full)) {
    return true;
  }
  if (mask.Has(ScopeBit::kLocatedDir) && scope_registry::IsLocatedDir(dir) &&
      !HiddenBelowGrant(dir, full)) {
    return true;
  }
  return false;
}

void AccessGuard::SetScopeDir(std::u16string_view dir, ScopeKind kind) {
  ClearScope();
  if (kind == ScopeKind::kNone) return;
  std::u16string qualified = QualifyPath(dir);
  if (qualified.empty()) return;
  scope_.kind = kind;
  scope_.dir = std::move(qualified);
  if (kind == ScopeKind::kLocatedDir) scope_registry::AddLocatedDir(scope_.dir);
}

void AccessGuard::GrantFile(std::u16string_view path) { scope_.picked_files.emplace(path); }

void AccessGuard::RevokeFile(std::u16string_view path) {
  if (auto found = scope_.picked_files.find(std::u16string(path));
      found != scope_.picked_files.end()) {
    scope_.picked_files.erase(found);
  }
}

void AccessGuard::ClearScope() { scope_ = OperationScope{}; }

void ReleasePublishedScope(std::u16string& published_id) {
  if (published_id.empty()) return;
  scope_registry::Withdraw(published_id);
  published_id.clear();
}

std::u16string PublishOperationScope(const AccessGuard& guard, std::u16string& published_id) {
  ReleasePublishedScope(published_id);
  std::u16string id = platform::NewUuidText();
  scope_registry::Publish(id, guard.scope());
  published_id = id;
  return id;
}

void AdoptOperationScope(AccessGuard& guard, std::u16string_view id) {
  if (id.empty()) return;
  if (auto adopted = scope_registry::Adopt(id)) guard.ReplaceScope(*std::move(adopted));
}

void FinishOperation(AccessGuard& guard, std::u16string& published_id) {
  guard.ClearScope();
  ReleasePublishedScope(published_id);
}

}  // namespace qs
