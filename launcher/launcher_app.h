#pragma once
// The launcher's one application object: its settings, the window's state (WindowState,
// which the renderer draws) and the patch job's bookkeeping. Owned by start-up for the
// whole run and touched only on the user-interface thread; workers get copies of what
// they need.

#include "launcher/client_launch.h"
#include "launcher/patch_job_state.h"
#include "launcher/settings.h"
#include "launcher/window_accessible.h"
#include "patcher/patch_records.h"
#include "platform/gdi_handles.h"
#include "window/window_state.h"

#include <windows.h>

#include <filesystem>
#include <memory>
#include <string>

namespace korvel {

class LauncherApp {
public:
    explicit LauncherApp(HINSTANCE instance = ::GetModuleHandleW(nullptr));
    // Releases the banner, then shuts GDI+ down (when it was started).
    ~LauncherApp();
    LauncherApp(LauncherApp const&) = delete;
    LauncherApp& operator=(LauncherApp const&) = delete;

    // Starts GDI+ for the window's drawing. On failure says so in the start-up failure
    // box (no owner) and returns false: normal mode then ends with code 1.
    bool start_gdiplus(Gdiplus::GdiplusStartupInput const& input);

    // Absolute paths stay as written; anything else is joined to base_dir (never to the
    // current folder). Not normalised.
    std::filesystem::path resolve_path(std::filesystem::path const& path) const;

    // Reads launcher.ini beside the executable and launcher_settings.ini in the client's
    // UserData folder. Missing files or keys keep the built-in values.
    void load_settings();

    // Stores the player's client count (capped at k_max_clients) in launcher_settings.ini,
    // keeping whatever else that file holds, and redraws the window. A failed write is silent.
    void save_client_count(int count);

    // Play: starts client_count clients and closes the launcher when all started; asks
    // for an elevated restart when Windows demands administrator rights. Reports failures
    // in message boxes owned by the window. The starts after the first follow from the
    // window's timer (PlayRun); a Play meanwhile does nothing.
    void launch_clients();
    // The same with the two outside actions supplied by the caller.
    void launch_clients(StartClientFn const& start, RestartElevatedFn const& restart_elevated);
    // True while a Play run waits to start its next client.
    bool clients_starting() const;

    // Starts a patch job (a quick check, or a full repair) on a worker thread unless one
    // is running; its progress and outcome arrive as WM_PATCH_PROGRESS / WM_PATCH_DONE.
    // While the settings dialog is open the request waits for it to close.
    void start_patch(bool full_repair);
    // WM_PATCH_PROGRESS and WM_PATCH_DONE: the records of the current job are shown (an
    // earlier job's are dropped); an outcome with a staged launcher hands it off.
    void on_patch_progress(LPARAM lparam);
    void on_patch_done(LPARAM lparam);
    // Hands the staged launcher to the replacement helper and destroys the window; a
    // missing or unstartable helper is reported in a box and the launcher stays, patches
    // the game without that offer and offers Play. Each start hands an offer off at most
    // once; the attempt is remembered in .korvel/ beside the launcher.
    void begin_self_update(StagedLauncher const& update);
    // Start-up, before the first check: what became of the last hand-off. When the helper
    // could not replace the launcher, says so once in a box; the offer it was given is
    // then declined by this start's checks (a repair tries it once more).
    void check_last_hand_off();

    // Draws the whole window for WM_PAINT (window/render.h).
    void paint_window();
    // Loads an image file into a new banner bitmap, decoded whole and kept at no more
    // pixels than the banner area shows at the window's scale (window/banner_image.h);
    // false (old banner kept) when the file cannot be read or decoded, or declares too
    // many pixels. The file is remembered for reload_banner.
    bool load_banner_image(std::filesystem::path const& path);
    // After a scale change: the last banner file decoded again for its new size.
    void reload_banner();
    // The modal game settings dialog on the client's config file; returns when it is
    // closed. A job asked for meanwhile starts then.
    void open_settings_dialog();

    // Public because the pieces around the application object fill them: the main
    // window (main_window.h) takes the module for its class and sets hwnd as it is made;
    // start-up sets base_dir and reads the settings for the downloads and the banner; the
    // window controller writes what the window shows (hover, feeds, scale). Everything
    // the patch job decides goes through the methods above.
    HINSTANCE const instance;
    HWND hwnd = nullptr;
    // The launcher's folder: relative paths of the settings are joined to it.
    std::filesystem::path base_dir;
    // launcher.ini's values, with their defaults until load_settings.
    LauncherSettings settings;
    // What the window shows; the renderer draws it on WM_PAINT.
    WindowState window;
    // What screen readers are given of the window, and what they were last told.
    WindowAccessibility accessibility;

private:
    void invalidate() const;
    PatchConfig patch_config(bool full_repair) const;

    ULONG_PTR gdiplus_token_ = 0;
    // The file the banner was last loaded from: decoded again when the scale changes.
    std::filesystem::path banner_source_;
    PatchJobState jobs_{window};
    // The SHA-256 of a launcher offer whose replacement failed, and whether this start
    // has already handed an offer off.
    std::string declined_launcher_sha256_;
    bool hand_off_tried_ = false;
    // The last Play run: its timer on the window finds it while it waits.
    std::unique_ptr<PlayRun> play_run_;
};

}  // namespace korvel
