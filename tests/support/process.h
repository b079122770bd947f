#pragma once
// Running the project's programs as separate processes under Wine, and finding the
// windows and message boxes they show.

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace korvel::test {

// A started child process, terminated when the object goes away while it still runs.
class ChildProcess {
public:
    // Starts `program` with the command line "<program>" + (arguments empty ? "" : " " +
    // arguments) in `folder` (the test's current folder when empty). With `in_job` the
    // process and every process it starts belong to a job, which counts them. A `desktop`
    // name starts it on that desktop (under Wine, a virtual desktop of the size the
    // prefix's registry gives it), else on this process's. Throws std::runtime_error when
    // the process cannot be started.
    ChildProcess(std::filesystem::path const& program, std::wstring const& arguments,
                 std::filesystem::path const& folder = {}, bool in_job = false, std::wstring desktop = {});
    ~ChildProcess();
    ChildProcess(ChildProcess const&) = delete;
    ChildProcess& operator=(ChildProcess const&) = delete;

    DWORD pid() const { return pid_; }
    bool running() const;
    // The exit code once the process has ended within `timeout_ms`, else nothing.
    std::optional<DWORD> wait(DWORD timeout_ms) const;
    void terminate();
    // The most memory the process has held in physical pages so far (its peak working
    // set, GetProcessMemoryInfo), in bytes; 0 when it cannot be read.
    std::uint64_t peak_working_set() const;

    // With in_job: waits until no process of the job runs any more, then returns how many
    // processes the job ever held (this one included). Nothing on time-out.
    std::optional<DWORD> wait_for_job(DWORD timeout_ms) const;

private:
    HANDLE process_ = nullptr;
    HANDLE job_ = nullptr;
    DWORD pid_ = 0;
};

struct DialogSeen {
    HWND hwnd = nullptr;
    std::wstring title;
    std::wstring text;  // the texts of the dialog's static controls, joined by "\n"
};

// Polls until process `pid` shows a visible top-level dialog (a message box), up to
// `timeout_ms`. Nothing on time-out.
std::optional<DialogSeen> wait_for_dialog(DWORD pid, DWORD timeout_ms);

// Presses OK (or closes) the dialog.
void dismiss_dialog(HWND dialog);

// Polls until process `pid` has a top-level window of `class_name`; null on time-out.
HWND wait_for_window(DWORD pid, std::wstring const& class_name, DWORD timeout_ms);

// A command-line argument in double quotes.
std::wstring quoted(std::filesystem::path const& path);

// A folder on drive Z: in which nothing can be created, removed or renamed, as a game
// folder under Program Files is for a player: Linux's immutable attribute (chattr +i),
// the one refusal that root, running Wine here, cannot pass. ok() says whether it took;
// the destructor makes the folder writable again, whatever the test did.
class UnwritableFolder {
public:
    explicit UnwritableFolder(std::filesystem::path folder);
    ~UnwritableFolder();
    UnwritableFolder(UnwritableFolder const&) = delete;
    UnwritableFolder& operator=(UnwritableFolder const&) = delete;
    bool ok() const { return ok_; }

private:
    std::filesystem::path folder_;
    bool ok_ = false;
};

}  // namespace korvel::test
