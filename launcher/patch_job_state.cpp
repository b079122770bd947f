#include "launcher/patch_job_state.h"

#include "platform/text.h"
#include "window/window_state.h"

#include <utility>

namespace korvel {

std::optional<std::uint64_t> PatchJobState::start(bool full_repair) {
    if (shown_.patch_running) return std::nullopt;
    if (dialog_open_) {
        pending_full_repair_ = pending_full_repair_.value_or(false) || full_repair;
        return std::nullopt;
    }
    shown_.patch_running = true;
    shown_.play_ready = false;
    shown_.progress = no_job_progress();
    shown_.progress.title = full_repair ? L"Teljes javítás indítása" : L"Frissítések keresése";
    return ++job_;
}

void PatchJobState::fail(std::wstring text) {
    shown_.patch_running = false;
    shown_.play_ready = false;
    shown_.progress.stage = PatchStage::Failed;
    shown_.progress.title = L"Frissítési hiba";
    shown_.progress.detail = std::move(text);
}

bool PatchJobState::report(std::uint64_t job, PatchProgress const& progress) {
    if (job != job_) return false;
    shown_.progress = progress;
    if (progress.stage == PatchStage::Failed) {
        shown_.patch_running = false;
        shown_.play_ready = false;
    }
    return true;
}

PatchJobState::Next PatchJobState::finish(std::uint64_t job, PatchOutcome const& outcome) {
    if (job != job_) return Next::Drop;
    shown_.patch_running = false;
    if (!outcome.error_message.empty()) {
        fail(outcome.error_message);
        return Next::Redraw;
    }
    if (outcome.result.staged_launcher) return Next::HandOff;  // drawn idle behind the hand-off
    shown_.play_ready = outcome.result.ok;
    shown_.remote_version_text = utf8_or_bytes_to_wide(outcome.result.client_version);
    return Next::Redraw;
}

std::optional<bool> PatchJobState::dialog_closed() {
    dialog_open_ = false;
    return std::exchange(pending_full_repair_, std::nullopt);
}

}  // namespace korvel
