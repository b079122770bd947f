#include "platform/keep_awake.h"

#include <windows.h>

#include <atomic>

namespace korvel {

namespace {

std::atomic<int> requests{0};

}  // namespace

KeepAwake::KeepAwake() noexcept {
    held_ = ::SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) != 0;
    if (held_) ++requests;
}

KeepAwake::~KeepAwake() {
    if (!held_) return;
    ::SetThreadExecutionState(ES_CONTINUOUS);
    --requests;
}

int keep_awake_requests() noexcept {
    return requests.load();
}

}  // namespace korvel
