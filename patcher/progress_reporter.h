#pragma once
// The one progress record of a patch run and the callback that receives it. The
// callback gets a reference that is valid only during the call; it may be empty.

#include "core/patch_progress.h"

#include <functional>
#include <string>
#include <string_view>

namespace korvel {

using PatchProgressFn = std::function<void(PatchProgress const&)>;

struct ProgressReporter {
    PatchProgress& progress;
    PatchProgressFn const& callback;

    void report() const {
        if (callback) callback(progress);
    }
};

}  // namespace korvel
