#include "launcher/patch_job.h"

#include "launcher/app_messages.h"
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
// flight, and the last report (Done, UpdatingLauncher or Failed) is always the one the window ends with.
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
        outcome.result = PatcherEngine::run(config, full_repair, progress);
    } catch (std::exception const& e) {
        // what() may quote raw bytes of a broken document: the strict conversion would
        // throw again here and end the process.
        outcome.error_message = utf8_or_bytes_to_wide(e.what());
        if (outcome.error_message.empty()) outcome.error_message = L"Ismeretlen hiba történt a frissítés közben.";
    } catch (...) {
        outcome.error_message = L"Ismeretlen hiba történt a frissítés közben.";
    }
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

}  // namespace korvel
