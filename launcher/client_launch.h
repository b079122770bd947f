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
// at the first start that fails.
ClientStarts start_clients(ClientLaunch const& launch, int count, StartClientFn const& start);

// Play: starts `count` clients (capped at k_max_clients) and closes `owner` when all
// started; asks for an elevated restart when Windows demands administrator rights.
// Reports failures in message boxes owned by `owner`.
void play_clients(HWND owner, ClientLaunch const& launch, int count, StartClientFn const& start,
                  RestartElevatedFn const& restart_elevated);

// Launch mode: reads launcher.ini beside the running executable and starts `count`
// clients without a window. Returns 0 (all started), 2 (executable missing) or 3 (a start
// failed); failures are shown in message boxes without owner.
int run_launch_mode(int count);
// The same for the launcher installed in `base_dir`, with the start routine supplied.
int run_launch_mode(std::filesystem::path const& base_dir, int count, StartClientFn const& start);

}  // namespace korvel
