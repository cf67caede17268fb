#include "workdir/scope_registry.h"

#include <map>
#include <mutex>
#include <vector>

#include "workdir/path_qualify.h"

namespace qs::scope_registry {

namespace {

// Both are created empty on first use and live until the process ends.
struct PublishedScopes {
  std::mutex lock;
  std::map<std::u16string, OperationScope, std::less<>> scopes;
};

struct LocatedDirs {
  std::mutex lock;
  std::vector<std::u16string> dirs;
};

PublishedScopes& Published() {
  static PublishedScopes registry;
  return registry;
}

LocatedDirs& Located() {
  static LocatedDirs located;
  return located;
}

std::u16string_view WithoutTrailingSeparator(std::u16string_view dir) {
  if (EndsWithSeparator(dir)) dir.remove_suffix(1);
  return dir;
}

bool SameLocatedDir(std::u16string_view a, std::u16string_view b) {
  return WithoutTrailingSeparator(a) == WithoutTrailingSeparator(b);
}

}  // namespace

void Publish(const std::u16string& id, const OperationScope& scope) {
  auto& registry = Published();
  std::lock_guard hold(registry.lock);
  registry.scopes.emplace(id, scope);
}

std::optional<OperationScope> Adopt(std::u16string_view id) {
  auto& registry = Published();
  std::lock_guard hold(registry.lock);
  auto found = registry.scopes.find(id);
  if (found == registry.scopes.end()) return std::nullopt;
  OperationScope scope = std::move(found->second);
  registry.scopes.erase(found);
  return scope;
}

void Withdraw(std::u16string_view id) {
  auto& registry = Published();
  std::lock_guard hold(registry.lock);
  if (auto found = registry.scopes.find(id); found != registry.scopes.end()) {
    registry.scopes.erase(found);
  }
}

void AddLocatedDir(std::u16string_view dir) {
  auto& located = Located();
  std::lock_guard hold(located.lock);
  for (const auto& known : located.dirs) {
    if (SameLocatedDir(known, dir)) return;
  }
  located.dirs.emplace_back(dir);
}

bool IsLocatedDir(std::u16string_view dir) {
  auto& located = Located();
  std::lock_guard hold(located.lock);
  for (const auto& known : located.dirs) {
    if (SameLocatedDir(known, dir)) return true;
  }
  return false;
}

}  // namespace qs::scope_registry
