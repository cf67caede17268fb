// The final path of an open file: the path the system itself reports for it, with every link
// resolved. File sizes are measured on it, so that a name does not mislead about what is open.
#pragma once

namespace qs::platform {

// Whether this system can report the final path of an open file. Looked up once per process by
// whoever needs it first.
bool FinalPathLookupAvailable();

}  // namespace qs::platform
