#pragma once
// Starting the outside game client: one start routine shared by the Play button and by
// launch mode ("--launch-clients N"), which the launcher uses after an elevated restart.

#include "launcher/ini_file.h"

#include <windows.h>

#include <filesystem>
#include <functional>
#include <string>

namespace korvel {

// CreateProcessW's error when the program demands administrator rights (not in the
// MinGW headers).
inline constexpr DWORD k_error_elevation_required = 740;

// The most clients the launcher starts at once (the window offers 1x, 2x and 3x).
inline constexpr int k_max_clients = 3;

// The [client] section of launcher.ini with its defaults: the one place they are written.
struct ClientSection {
    std::wstring root = L".";             // the game folder, relative to the launcher's
    std::wstring game = L"bat.exe";       // the client executable in it
    std::wstring game_args;
    std::wstring config = L"zivur2.cfg";  // the client's settings file
    std::wstring updater = L"Swapnik.exe";
    int launch_delay_ms = 500;            // clamped to 100..3000
};

// Reads the [client] keys (root, game, game_args, config, updater, launch_delay_ms);
// a missing key keeps its default.
ClientSection read_client_section(IniFile const& ini);

// Where and how the clients are started.
struct ClientLaunch {
    std::filesystem::path folder;      // working folder of every client
    std::filesystem::path executable;  // folder joined with the configured file name
    std::wstring arguments;            // appended after one space when not empty
    int delay_ms = ClientSection{}.launch_delay_ms;  // pause between two starts
};

// A relative path joined to `base`; absolute ones ("C:\..", "C:/..", "\\server\..")
// as they stand. Not normalised.
std::filesystem::path resolve_against(std::filesystem::path const& base, std::filesystem::path const& path);

// The start of the clients of `client` for the launcher installed in `base_dir`.
ClientLaunch client_launch_of(ClientSection const& client, std::filesystem::path const& base_dir);
// The same as read_client_section reads launcher.ini.
ClientLaunch client_launch_from_ini(IniFile const& ini, std::filesystem::path const& base_dir);

// Starts one client: "<executable>" [space arguments], working folder `folder`, handles
// closed at once. ERROR_SUCCESS, or the Win32 error code of the failed start.
DWORD start_client(std::filesystem::path const& executable, std::wstring const& arguments,
                   std::filesystem::path const& folder);

// Restarts `launcher` elevated ("runas") as `launcher --launch-clients <count>` in
// `folder`. ERROR_SUCCESS, ERROR_CANCELLED (1223) when the player declined, or another code.
DWORD restart_elevated(HWND owner, std::filesystem::path const& launcher, std::filesystem::path const& folder,
                       int count);

using StartClientFn =
    std::function<DWORD(std::filesystem::path const&, std::wstring const&, std::filesystem::path const&)>;
using RestartElevatedFn = std::function<DWORD(HWND owner, int count)>;

// True when the client executable exists as any file-system object.
bool client_exists(std::filesystem::path const& executable);

// How far a run of starts got: `started` clients, and the error of the one that failed.
struct ClientStarts {
    int started = 0;
    DWORD error = ERROR_SUCCESS;
};

// Starts `count` clients, launch.delay_ms apart (the calling thread sleeps), and stops
// at the first start that fails. For launch mode, which has no window to keep answering.
ClientStarts start_clients(ClientLaunch const& launch, int count, StartClientFn const& start);

// The timer of a Play run on the main window; the window's own timers
// (window_controller.h) use other ids.
inline constexpr UINT_PTR k_client_start_timer = 2;

// Play on the window's thread: starts `count` clients (capped at k_max_clients) and closes
// `owner` when all started; asks for an elevated restart when Windows demands
// administrator rights; reports failures in message boxes owned by `owner`.
// The first start happens in begin(); each later one from a timer on `owner`, delay_ms
// after the one before, so that the window keeps answering (Windows marks a window "Not
// Responding" after 5 s without messages; three starts 3 s apart took 6). Meanwhile the
// window takes no input: a second Play, a repair or a close waits for the run's end.
class PlayRun {
public:
    PlayRun(HWND owner, ClientLaunch launch, int count, StartClientFn start, RestartElevatedFn restart_elevated);
    // Drops the starts still to come and gives the window its input back.
    ~PlayRun();
    PlayRun(PlayRun const&) = delete;
    PlayRun& operator=(PlayRun const&) = delete;

    // The existence test and the first start; later starts follow from the window's
    // message loop.
    void begin();
    // True while later starts wait for their timer.
    bool running() const { return running_; }

private:
    static void CALLBACK on_timer(HWND hwnd, UINT, UINT_PTR id, DWORD) noexcept;
    void start_next();
    void wait_for_next();
    void stop_waiting() noexcept;
    void finish(DWORD error);

    HWND const owner_;
    ClientLaunch const launch_;
    int const count_;
    StartClientFn const start_;
    RestartElevatedFn const restart_elevated_;
    int started_ = 0;
    bool running_ = false;
};

// Launch mode: reads launcher.ini beside the running executable and starts `count`
// clients without a window. Returns 0 (all started), 2 (executable missing) or 3 (a start
// failed); failures are shown in message boxes without owner.
int run_launch_mode(int count);
// The same for the launcher installed in `base_dir`, with the start routine supplied.
int run_launch_mode(std::filesystem::path const& base_dir, int count, StartClientFn const& start);

}  // namespace korvel
