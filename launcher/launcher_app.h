#pragma once
// The launcher's one application object: settings and patch state, and the window's
// state (WindowState, which the renderer draws). Owned by start-up for the whole run and touched
// only on the user-interface thread; workers get copies of what they need.

#include "launcher/client_launch.h"
#include "launcher/ini_file.h"
#include "patcher/patch_records.h"
#include "window/window_state.h"

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace korvel {

class LauncherApp : public WindowState {
public:
    explicit LauncherApp(HINSTANCE instance = ::GetModuleHandleW(nullptr));
    // Releases the banner, then shuts GDI+ down (when it was started).
    ~LauncherApp();
    LauncherApp(LauncherApp const&) = delete;
    LauncherApp& operator=(LauncherApp const&) = delete;

    // Absolute paths stay as written; anything else is joined to base_dir (never to the
    // current folder). Not normalised.
    std::filesystem::path resolve_path(std::filesystem::path const& path) const;

    // Reads launcher.ini beside the executable and launcher_settings.ini in the client's
    // UserData folder. Missing files or keys keep the built-in values.
    void load_settings();

    // Stores the player's client count (capped at 3) in launcher_settings.ini, keeping
    // whatever else that file holds, and redraws the window. A failed write is silent.
    void save_client_count(int count);

    // Play: starts client_count clients and closes the launcher when all started; asks
    // for an elevated restart when Windows demands administrator rights. Reports failures
    // in message boxes owned by the window.
    void launch_clients();
    // The same with the two outside actions supplied by the caller.
    void launch_clients(StartClientFn const& start, RestartElevatedFn const& restart_elevated);

    // Starts a patch job (a quick check, or a full repair) on a worker thread unless one
    // is running; its progress and outcome arrive as WM_PATCH_PROGRESS / WM_PATCH_DONE.
    void start_patch(bool full_repair);
    // Hands the staged launcher to the replacement helper and destroys the window; a
    // missing or unstartable helper is reported in a box and the launcher stays, patches
    // the game without that offer and offers Play. Each start hands an offer off at most
    // once; the attempt is remembered in .korvel/ beside the launcher.
    void begin_self_update(LauncherUpdate const& update);
    // Start-up, before the first check: what became of the last hand-off. When the helper
    // could not replace the launcher, says so once in a box; the offer it was given is
    // then declined by this start's checks (a repair tries it once more).
    void check_last_hand_off();

    // Draws the whole window for WM_PAINT (window/render.h).
    void paint_window();
    // Loads an image file into a new banner_bitmap, decoded whole and kept at no more
    // pixels than the banner area shows at the window's scale (window/banner_image.h); false
    // (old banner kept) when the file cannot be read or decoded, or declares too many
    // pixels. The file is remembered as banner_source.
    bool load_banner_image(std::filesystem::path const& path);
    // The modal game settings dialog on config_file; returns when it is closed.
    void open_settings_dialog();

    HINSTANCE instance;
    HWND hwnd = nullptr;
    ULONG_PTR gdiplus_token = 0;
    IniFile ini;
    std::filesystem::path base_dir;
    std::filesystem::path banner_cache_path;
    // The file the banner was last loaded from: decoded again when the scale changes.
    std::filesystem::path banner_source;

    std::wstring window_title = L"Korvel2 Launcher";

    // The [client] section (client_launch.h), with its defaults until load_settings.
    std::wstring client_exe = ClientSection{}.game;
    std::wstring game_args;
    std::wstring client_root = ClientSection{}.root;
    std::wstring config_file = ClientSection{}.config;
    std::wstring updater_exe = ClientSection{}.updater;
    std::int32_t launch_delay_ms = ClientSection{}.launch_delay_ms;

    std::string version_url;  // UTF-8, like every URL
    std::string news_url;
    std::string status_url;
    std::string banner_url;  // empty: no banner download

    // The SHA-256 of a launcher offer whose replacement failed, and whether this start
    // has already handed an offer off.
    std::string declined_launcher_sha256;
    bool hand_off_tried = false;
    // No job starts while the settings dialog runs its own loop; one asked for meanwhile
    // (its full_repair flag) starts when the dialog closes.
    bool settings_open = false;
    std::optional<bool> pending_patch;
    // Jobs are numbered here, on the window thread; only the newest one's records are
    // applied. (A Failed report ends a job before its outcome arrives, so the player can
    // start the next one while the old outcome is still queued.)
    std::uint64_t patch_job = 0;
};

}  // namespace korvel
