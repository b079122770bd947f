#pragma once
// The launcher's one application object: settings, window state, patch state and the
// layout of the window's active areas. Owned by start-up for the whole run and touched
// only on the user-interface thread; workers get copies of what they need.

#include "launcher/button_id.h"
#include "launcher/client_launch.h"
#include "launcher/ini_file.h"
#include "patcher/patch_records.h"
#include "platform/gdi_handles.h"
#include "window/news_item.h"

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace korvel {

class LauncherApp {
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

    // Draws the whole window for WM_PAINT (window/).
    void paint_window();
    // Loads an image file into a new banner_bitmap, decoded whole and kept at no more
    // pixels than banner_rect shows (window/picture.h); false (old banner kept) when the
    // file cannot be read or decoded, or declares too many pixels (window/).
    bool load_banner_image(std::filesystem::path const& path);
    // The modal game settings dialog on config_file; returns when it is closed.
    void open_settings_dialog();

    HINSTANCE instance;
    HWND hwnd = nullptr;
    ULONG_PTR gdiplus_token = 0;
    IniFile ini;
    std::filesystem::path base_dir;
    std::filesystem::path banner_cache_path;
    UniqueGdipBitmap banner_bitmap;

    std::wstring window_title = L"Korvel2 Launcher";
    std::wstring logo_text = L"KORVEL2";
    std::wstring subtitle = L"Official Game Launcher";
    std::wstring hero_title = L"LÉPJ BE A KORVEL VILÁGÁBA";
    std::wstring hero_subtitle = L"A legendád itt kezdődik – lépj be, és írd tovább Korvel2 történetét.";

    std::wstring client_exe = L"bat.exe";
    std::wstring game_args;
    std::wstring client_root = L".";
    std::wstring config_file = L"zivur2.cfg";
    std::wstring updater_exe = L"Swapnik.exe";
    std::int32_t client_count = 1;
    std::int32_t launch_delay_ms = 500;

    std::wstring website_url;
    std::wstring discord_url;
    std::wstring register_url;
    std::string version_url;  // UTF-8, like every URL
    std::string news_url;
    std::string status_url;
    std::string banner_url;  // empty: no banner download
    std::wstring server_name = L"Korvel2";

    std::vector<NewsItem> news_items;
    bool server_online = false;
    bool patch_running = false;
    bool play_ready = false;
    // The SHA-256 of a launcher offer whose replacement failed, and whether this start
    // has already handed an offer off.
    std::string declined_launcher_sha256;
    bool hand_off_tried = false;
    // No job starts while the settings dialog runs its own loop; one asked for meanwhile
    // (its full_repair flag) starts when the dialog closes.
    bool settings_open = false;
    std::optional<bool> pending_patch;
    std::wstring server_status_text = L"Állapot ellenőrzése...";

    std::int32_t patch_stage = 0;
    std::wstring progress_title;
    std::wstring progress_detail;
    std::wstring current_file;
    std::uint64_t files_total = 0;
    std::uint64_t files_done = 0;
    std::uint64_t bytes_done = 0;
    std::uint64_t bytes_total = 0;
    double speed = 0;   // bytes per second
    double eta = -1.0;  // seconds left; -1 unknown
    std::int32_t percent = 0;
    std::wstring remote_version_text = L"-";
    ButtonId hover_id = ButtonId::None;

    // Client pixels of the fixed 1200 x 760 window.
    RECT close_rect{1154, 16, 1184, 46};
    RECT minimize_rect{1114, 16, 1144, 46};
    RECT play_rect{909, 650, 1160, 716};
    RECT repair_rect{755, 650, 895, 716};
    RECT settings_rect{1048, 18, 1082, 52};
    RECT website_rect{834, 499, 934, 530};
    RECT discord_rect{944, 499, 1044, 530};
    RECT register_rect{1054, 499, 1164, 530};
    RECT count1_rect{755, 607, 797, 641};
    RECT count2_rect{804, 607, 846, 641};
    RECT count3_rect{853, 607, 895, 641};
    RECT banner_rect{18, 78, 795, 450};
    RECT news_card_rect{815, 78, 1182, 346};
    RECT status_card_rect{815, 360, 1182, 548};
    RECT bottom_panel_rect{18, 565, 1182, 738};
    std::vector<RECT> news_item_rects{
        {832, 132, 1165, 174}, {832, 181, 1165, 223}, {832, 230, 1165, 272}, {832, 279, 1165, 321}};
};

}  // namespace korvel
