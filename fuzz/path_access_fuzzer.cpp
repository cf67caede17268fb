// Path qualification and the access decision: a qualified path is absolute, free of "." and
// ".." components and of "\", and below the length limit; and no path outside the grants is
// ever allowed, however a page writes it.
//
// Input: one byte choosing the scope's kind, one byte of request mask, then lines: a current
// directory, the working directory, the scope directory, a picked file, the path asked about.
// Located directories are left out: they are recorded for the whole process and would pile up
// from one input to the next.
#include <vector>

#include "fuzz_input.h"
#include "workdir/access_guard.h"
#include "workdir/path_qualify.h"

namespace {

using Components = std::vector<std::u16string_view>;

// The components of a qualified path, checked for the qualified form on the way.
Components SplitQualified(std::u16string_view path) {
  QSFT_FUZZ_CHECK(!path.empty() && path.front() == u'/');
  QSFT_FUZZ_CHECK(path.size() < qs::kMaxQualifiedPathLength);
  QSFT_FUZZ_CHECK(path.find(u'\\') == std::u16string_view::npos);
  QSFT_FUZZ_CHECK(path.find(u'\0') == std::u16string_view::npos);
  Components parts;
  size_t pos = 1;
  while (pos < path.size()) {
    const size_t end = std::min(path.find(u'/', pos), path.size());
    const std::u16string_view part = path.substr(pos, end - pos);
    QSFT_FUZZ_CHECK(!part.empty() && part != u"." && part != u"..");
    parts.push_back(part);
    pos = end + 1;
  }
  return parts;
}

// Whether directory `dir` lies at or below `grant`, component by component.
bool Inside(std::u16string_view grant, std::u16string_view dir) {
  const Components g = SplitQualified(grant);
  const Components d = SplitQualified(dir);
  if (g.size() > d.size()) return false;
  for (size_t i = 0; i < g.size(); ++i) {
    if (g[i] != d[i]) return false;
  }
  return true;
}

// Not kLocatedDir: it would grow the process-wide list of located folders.
constexpr qs::ScopeKind kKinds[] = {qs::ScopeKind::kNone, qs::ScopeKind::kDownloadDir,
                                    qs::ScopeKind::kExportDir, qs::ScopeKind::kPickedFolder};

// The mask whose bits are those of `byte`, made by name.
qs::AccessMask MaskOf(uint8_t byte) {
  qs::AccessMask mask;
  for (const qs::ScopeBit bit : qs::kEveryScopeBit) {
    if ((byte & static_cast<uint8_t>(bit)) != 0) mask = mask | bit;
  }
  return mask;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qs;
  if (size < 2) return 0;
  const ScopeKind kind = kKinds[data[0] % std::size(kKinds)];
  const AccessMask mask = MaskOf(data[1]);
  const auto pieces = fuzz::Pieces(fuzz::Bytes(data + 2, size - 2), 5);
  const std::u16string current_dir = fuzz::Utf16(pieces[0]);
  const std::u16string work_dir = fuzz::Utf16(pieces[1]);
  const std::u16string scope_dir = fuzz::Utf16(pieces[2]);
  const std::u16string picked = fuzz::Utf16(pieces[3]);
  const std::u16string path = fuzz::Utf16(pieces[4]);

  // Qualification on its own, against a given current directory (which, like the process's,
  // never holds a NUL).
  const std::u16string against = current_dir.find(u'\0') == std::u16string::npos
                                     ? QualifyPath(path, current_dir)
                                     : std::u16string();
  if (!against.empty()) {
    SplitQualified(against);
    QSFT_FUZZ_CHECK(QualifyPath(against, u"/") == against);  // already in its final form
  }

  AccessGuard guard([&work_dir] { return work_dir; });
  guard.SetScopeDir(scope_dir, kind);
  if (!picked.empty()) guard.GrantFile(picked);
  std::u16string qualified;
  const bool allowed = guard.CheckAccess(path, mask, &qualified);
  QSFT_FUZZ_CHECK(qualified == QualifyPath(path));
  if (!allowed) return 0;

  const std::u16string_view dir = DirectoryPart(qualified);
  const std::u16string qualified_work_dir = QualifyPath(work_dir);
  const OperationScope& scope = guard.scope();
  const bool by_work_dir = mask.HasAny(scope::kAnyWorkDir) && !qualified_work_dir.empty() &&
                           Inside(qualified_work_dir, dir);
  const bool by_picked_file = mask.Has(ScopeBit::kPickedFile) && !picked.empty() && path == picked;
  const bool by_scope = scope.kind != ScopeKind::kNone && mask.HasAny(GrantedBits(scope.kind)) &&
                        scope.dir == QualifyPath(scope_dir) && Inside(scope.dir, dir);
  QSFT_FUZZ_CHECK(by_work_dir || by_picked_file || by_scope);
  return 0;
}
