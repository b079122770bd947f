#pragma once
// The one progress record of a patch run and the callback that receives it. The
// callback gets a reference that is valid only during the call; it may be empty.

#include "patcher/patch_records.h"

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

// Server-supplied UTF-8 text for the window: converted when valid, otherwise each byte
// becomes one UTF-16 unit (0x80..0xFF sign-extended to 0xFF80..0xFFFF), so that a bad
// name is still shown rather than lost. Never used for paths on disk.
std::wstring widen_for_display(std::string_view text);

}  // namespace korvel
