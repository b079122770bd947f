#pragma once
// The patch job's bookkeeping on the window thread: which job is the current one, whether
// it runs, whether Play is offered, the progress the window shows, and a job asked for
// while the game settings dialog was open. Every change of these goes through a method
// here, so the rules that tie them together live in one place. It draws nothing and
// starts nothing: the caller redraws and starts the worker.

#include "core/patch_progress.h"
#include "launcher/patch_job.h"

#include <cstdint>
#include <optional>
#include <string>

namespace korvel {

struct WindowState;

class PatchJobState {
public:
    // What an outcome asks of the launcher once it is recorded.
    enum class Next {
        Drop,     // an older job's: nothing changed
        Redraw,   // recorded: a failure, or the game checked
        HandOff,  // a new launcher is staged: hand it to the replacement helper
    };

    // `shown` is the window's record; its patch_running, play_ready, progress and
    // remote_version_text are written here and nowhere else.
    explicit PatchJobState(WindowState& shown) : shown_(shown) {}
    PatchJobState(PatchJobState const&) = delete;
    PatchJobState& operator=(PatchJobState const&) = delete;

    // A check (or with `full_repair` a repair) is asked for. The number of the job to
    // start now; none while one runs, or while the settings dialog is open: its nested
    // loop would run the job, and a launcher update at its end would close the launcher
    // under the dialog. A request made then is kept (a repair outranks a check) and
    // handed back by dialog_closed.
    std::optional<std::uint64_t> start(bool full_repair);
    // The window as after a failed job: Play dead, Repair free to try again.
    void fail(std::wstring text);
    // A report of job `job`; false (dropped) when a newer job has started since. A
    // Failed report ends the job at once: its outcome follows, but the buttons already
    // behave as after a failure.
    bool report(std::uint64_t job, PatchProgress const& progress);
    // The outcome of job `job`.
    Next finish(std::uint64_t job, PatchOutcome const& outcome);

    void dialog_opened() { dialog_open_ = true; }
    // The request kept while the dialog was open (its full_repair flag), if any.
    std::optional<bool> dialog_closed();

    std::uint64_t current_job() const { return job_; }

private:
    WindowState& shown_;
    // Jobs are numbered here, on the window thread; only the newest one's records are
    // applied. (A Failed report ends a job before its outcome arrives, so the player can
    // start the next one while the old outcome is still queued.)
    std::uint64_t job_ = 0;
    bool dialog_open_ = false;
    std::optional<bool> pending_full_repair_;
};

}  // namespace korvel
