#pragma once
// The patch job: one PatcherEngine::run on a detached worker, reported to the main window
// by WM_PATCH_PROGRESS and WM_PATCH_DONE. The worker owns its copies; the window owns
// every record from the moment it receives it.

#include "core/patch_progress.h"
#include "patcher/patch_records.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

namespace korvel {

// The job's result as the window receives it: the engine's result, or the failure text
// when the run threw (the result then stays as built).
struct PatchOutcome {
    PatchResult result;
    std::wstring error_message;  // empty on success
};

// Thread body: runs the engine for `config` while holding the game folder's patch lock
// (when the folder can hold one; another launcher's lock fails the job),
// posts progress (coalesced: at most one report in flight, always the newest) and
// finally the outcome. Posts nothing once `hwnd` is gone. Never throws.
// `job` numbers the job on the window thread; records of older jobs are dropped there.
void patch_worker(PatchConfig config, bool full_repair, HWND hwnd, std::uint64_t job = 0) noexcept;

// Window side. Each takes the record of the message into an owner before anything else.
// WM_PATCH_PROGRESS carries the job's progress mailbox; taking it yields the newest
// report (never null for a message the worker posted).
// `job`, when given, receives the number of the job that posted the record.
std::unique_ptr<PatchProgress> take_patch_progress(LPARAM lparam, std::uint64_t* job = nullptr);
std::unique_ptr<PatchOutcome> take_patch_outcome(LPARAM lparam, std::uint64_t* job = nullptr);

// The failure text of a second job on a game folder that another launcher is patching.
inline constexpr wchar_t const* k_patch_locked_text =
    L"Egy másik launcher éppen frissíti ezt a játékmappát. Próbáld újra, ha végzett.";

}  // namespace korvel
