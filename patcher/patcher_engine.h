#pragma once
// One patch pass: from the server's version document to a verified game folder, or to
// a staged new launcher. Blocking: the download stage runs its transfers on worker
// threads of its own and joins them before it returns or throws; progress is reported
// on the caller's thread only.

#include "patcher/patch_records.h"
#include "patcher/progress_reporter.h"

namespace korvel {

class PatcherEngine {
public:
    // Reports every step through `progress` (which may be empty) and returns either a
    // client that is up to date (`ok`) or a `staged_launcher`.
    // Any failure is reported once as the Failed stage and then rethrown unchanged.
    static PatchResult run(PatchConfig const& config, bool full_repair, PatchProgressFn const& progress);
};

}  // namespace korvel
