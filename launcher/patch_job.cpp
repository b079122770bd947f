#include "launcher/patch_job.h"

#include "launcher/app_messages.h"
#include "launcher/launcher_app.h"
#include "launcher/release_key.h"
#include "launcher/workers.h"
#include "core/version.h"
#include "patcher/patcher_engine.h"
#include "platform/text.h"
#include "platform/unique_handle.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

namespace korvel {

namespace {

// A quick check of a large folder reports far faster than the window can take the
// reports, and a thread's queue refuses posts beyond 10,000 messages. So the worker keeps
// only the newest report here and posts a message only when the box was empty; the
// window empties it when the message arrives. At most one progress message is ever in
// flight, and the last report (Done, UpdatingLauncher or Failed) is always the one the
// window ends with.
struct ProgressMailbox {
    explicit ProgressMailbox(std::uint64_t job) : job(job) {}
    ~ProgressMailbox() { delete newest.exchange(nullptr); }
    ProgressMailbox(ProgressMailbox const&) = delete;
    ProgressMailbox& operator=(ProgressMailbox const&) = delete;

    std::uint64_t const job;
    std::atomic<PatchProgress*> newest{nullptr};
};

// The record of WM_PATCH_PROGRESS: a share in the job's mailbox, which outlives both
// the worker and any message still queued.
using MailboxTicket = std::shared_ptr<ProgressMailbox>;

// The outcome travels with the number of the job that produced it, so that a late
// record of an earlier job cannot end the job that runs now.
struct OutcomeRecord {
    std::uint64_t job = 0;
    PatchOutcome outcome;
};

void post_progress(HWND hwnd, MailboxTicket const& mailbox, PatchProgress const& progress) {
    if (!::IsWindow(hwnd)) return;
    auto copy = std::make_unique<PatchProgress>(progress);
    if (PatchProgress* const replaced = mailbox->newest.exchange(copy.release())) {
        // A message is already on its way and will pick up the newer copy.
        delete replaced;
        return;
    }
    auto ticket = std::make_unique<MailboxTicket>(mailbox);
    if (::PostMessageW(hwnd, WM_PATCH_PROGRESS, 0, reinterpret_cast<LPARAM>(ticket.get()))) {
        ticket.release();  // the window's now
        return;
    }
    // Nothing is on its way: empty the box so that the next report posts again.
    delete mailbox->newest.exchange(nullptr);
}

// A refused outcome would leave the window in the running state for good, so it is
// offered again until the window takes it or is gone.
void post_outcome(HWND hwnd, std::unique_ptr<OutcomeRecord> record) {
    constexpr DWORD retry_pause_ms = 50;
    while (::IsWindow(hwnd)) {
        if (::PostMessageW(hwnd, WM_PATCH_DONE, 0, reinterpret_cast<LPARAM>(record.get()))) {
            record.release();
            return;
        }
        ::Sleep(retry_pause_ms);
    }
}

// Two launcher installations can point client_root at the same game folder; their jobs
// would truncate each other's partial downloads. The first job holds this file open
// without sharing until its run is over; a second one fails with a text the player
// understands. The file stays behind empty, which is harmless.
// Only another launcher's lock stops a job. A folder the player cannot write (a
// read-only installation that needs no download) has no lock to offer: the job goes on
// without one, holding the existing file read-only and unshared when there is one, and
// any write the run really needs fails on its own terms.
UniqueFile lock_game_folder(fs::path const& game_dir) {
    fs::path const folder = game_dir / L".korvel";
    std::error_code ignored;  // a folder that cannot be made leaves the job without a lock
    fs::create_directories(folder, ignored);
    fs::path const path = folder / L"patch.lock";
    struct Attempt {
        DWORD access;
        DWORD disposition;
    };
    UniqueFile lock;
    for (Attempt const attempt :
         {Attempt{GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS}, Attempt{GENERIC_READ, OPEN_EXISTING}}) {
        lock.reset(::CreateFileW(path.c_str(), attempt.access, 0, nullptr, attempt.disposition, FILE_ATTRIBUTE_NORMAL,
                                 nullptr));
        if (lock) return lock;
        DWORD const error = ::GetLastError();
        if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)
            throw std::runtime_error(wide_to_utf8(k_patch_locked_text));
    }
    return lock;  // none to be had
}

void run_job(PatchConfig const& config, bool full_repair, HWND hwnd, std::uint64_t job, PatchOutcome& outcome) {
    auto const mailbox = std::make_shared<ProgressMailbox>(job);
    PatchProgressFn const progress = [hwnd, mailbox](PatchProgress const& report) {
        post_progress(hwnd, mailbox, report);
    };
    try {
        UniqueFile const lock = lock_game_folder(config.game_dir);
        PatchResult result = PatcherEngine::run(config, full_repair, progress);
        outcome.ok = result.ok;
        outcome.client_version = std::move(result.client_version);
        outcome.launcher_update = std::move(result.launcher_update);
    } catch (std::exception const& e) {
        // what() may quote raw bytes of a broken document: the strict conversion would
        // throw again here and end the process.
        outcome.error_message = utf8_or_bytes_to_wide(e.what());
        if (outcome.error_message.empty()) outcome.error_message = L"Ismeretlen hiba történt a frissítés közben.";
    } catch (...) {
        outcome.error_message = L"Ismeretlen hiba történt a frissítés közben.";
    }
}

void invalidate(LauncherApp const& app) {
    ::InvalidateRect(app.hwnd, nullptr, FALSE);
}

// The window as after a failed job: Play dead, Repair free to try again.
void show_patch_failure(LauncherApp& app, std::wstring text) {
    app.patch_running = false;
    app.play_ready = false;
    app.progress.stage = PatchStage::Failed;
    app.progress.title = L"Frissítési hiba";
    app.progress.detail = std::move(text);
    invalidate(app);
}

}  // namespace

void patch_worker(PatchConfig config, bool full_repair, HWND hwnd, std::uint64_t job) noexcept {
    try {
        auto record = std::make_unique<OutcomeRecord>();
        record->job = job;
        run_job(config, full_repair, hwnd, job, record->outcome);
        post_outcome(hwnd, std::move(record));
    } catch (...) {
        // Out of memory before the run: the window cannot be told; the job ends silently.
    }
}

std::unique_ptr<PatchProgress> take_patch_progress(LPARAM lparam, std::uint64_t* job) {
    std::unique_ptr<MailboxTicket> ticket(reinterpret_cast<MailboxTicket*>(lparam));
    if (!ticket || !*ticket) return nullptr;
    if (job) *job = (*ticket)->job;
    return std::unique_ptr<PatchProgress>((*ticket)->newest.exchange(nullptr));
}

std::unique_ptr<PatchOutcome> take_patch_outcome(LPARAM lparam, std::uint64_t* job) {
    std::unique_ptr<OutcomeRecord> record(reinterpret_cast<OutcomeRecord*>(lparam));
    if (!record) return nullptr;
    if (job) *job = record->job;
    return std::make_unique<PatchOutcome>(std::move(record->outcome));
}

void on_patch_progress(LauncherApp& app, LPARAM lparam) {
    std::uint64_t job = 0;
    auto const progress = take_patch_progress(lparam, &job);
    if (!progress || job != app.patch_job) return;
    app.progress = *progress;
    if (progress->stage == PatchStage::Failed) {
        // The outcome follows; until then the buttons already behave as after a failure.
        app.patch_running = false;
        app.play_ready = false;
    }
    invalidate(app);
}

void on_patch_done(LauncherApp& app, LPARAM lparam) {
    std::uint64_t job = 0;
    auto const outcome = take_patch_outcome(lparam, &job);
    if (!outcome || job != app.patch_job) return;
    app.patch_running = false;
    if (!outcome->error_message.empty()) {
        show_patch_failure(app, std::move(outcome->error_message));
    } else if (outcome->launcher_update.ready) {
        invalidate(app);  // drawn idle behind the hand-off's boxes, should it fail
        app.begin_self_update(outcome->launcher_update);
    } else {
        app.play_ready = outcome->ok;
        app.remote_version_text = utf8_or_bytes_to_wide(outcome->client_version);
        invalidate(app);
    }
}

void LauncherApp::start_patch(bool full_repair) {
    if (patch_running) return;
    if (settings_open) {
        // Its nested loop would run the job, and a launcher update at its end would close
        // the launcher under the dialog with the player's choices unsaved.
        pending_patch = pending_patch.value_or(false) || full_repair;
        return;
    }
    patch_running = true;
    play_ready = false;
    progress = no_job_progress();
    progress.title = full_repair ? L"Teljes javítás indítása" : L"Frissítések keresése";
    invalidate(*this);

    PatchConfig config;
    config.game_dir = resolve_path(client_root);
    config.version_file = resolve_path(L".korvel/client.version");
    config.hash_cache_file = resolve_path(L".korvel/hash_cache.json");
    config.version_url = version_url;
    config.launcher_version = KORVEL_VERSION_TEXT;
    config.release_public_key = release_public_key();
    // An offer whose replacement failed is left alone, so the game can be played; a
    // repair tries it again, once per start.
    if (!full_repair || hand_off_tried) config.declined_launcher_sha256 = declined_launcher_sha256;

    std::uint64_t const job = ++patch_job;
    if (!start_worker([config = std::move(config), full_repair, window = hwnd, job] {
            patch_worker(config, full_repair, window, job);
        })) {
        // No thread, no job: show it like any failed job so that Repair can try again.
        show_patch_failure(*this, L"Nem sikerült elindítani a frissítést.");
    }
}

}  // namespace korvel
