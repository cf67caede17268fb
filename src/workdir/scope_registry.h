// The two process-wide records that every control of the process shares: the published
// operation scopes, and the folders in which the user located a file. Each has its own lock;
// no code holds both at once (every function here takes exactly one, and calls nothing else
// while holding it).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "workdir/operation_scope.h"

namespace qs::scope_registry {

// Stores a copy of `scope` under `id`. An identifier already present keeps its old record.
void Publish(const std::u16string& id, const OperationScope& scope);
// Takes the record published under `id` out of the registry; nothing when there is none.
std::optional<OperationScope> Adopt(std::u16string_view id);
// Removes the record under `id` if it is still there.
void Withdraw(std::u16string_view id);

// Records a qualified directory in which the user located a file (kept for the life of the
// process; an equal entry is not added twice).
void AddLocatedDir(std::u16string_view dir);
// Whether `dir` equals a recorded directory, exactly, ignoring one trailing separator on either
// side.
bool IsLocatedDir(std::u16string_view dir);

}  // namespace qs::scope_registry
