// Reading launcher.ini and launcher_settings.ini into LauncherApp, and storing the one
// choice the player makes in the window.

#include "launcher/launcher_app.h"
#include "platform/text.h"

#include <algorithm>
#include <system_error>

namespace fs = std::filesystem;

namespace korvel {

namespace {

// The patch server every default address points at; an installation names its own
// addresses in launcher.ini.
constexpr wchar_t const* k_patch_server_host = L"patch.korvel2.hu";

std::wstring default_url(wchar_t const* path) {
    return std::wstring(L"https://") + k_patch_server_host + path;
}

fs::path user_data_dir(LauncherApp const& app) {
    return app.resolve_path(app.client_root) / L"UserData";
}

fs::path settings_file(LauncherApp const& app) {
    return user_data_dir(app) / L"launcher_settings.ini";
}

}  // namespace

void LauncherApp::load_settings() {
    // Without the file every key keeps its default.
    ini.load(base_dir / L"launcher.ini");

    window_title = ini.get(L"branding", L"window_title", window_title);
    logo_text = ini.get(L"branding", L"logo", logo_text);
    subtitle = ini.get(L"branding", L"subtitle", subtitle);
    hero_title = ini.get(L"hero", L"title", hero_title);
    hero_subtitle = ini.get(L"hero", L"subtitle", hero_subtitle);
    ClientSection const client = read_client_section(ini);
    client_root = client.root;
    client_exe = client.game;
    game_args = client.game_args;
    config_file = client.config;
    updater_exe = client.updater;
    launch_delay_ms = client.launch_delay_ms;
    website_url = ini.get(L"links", L"website", L"");
    discord_url = ini.get(L"links", L"discord", L"");
    register_url = ini.get(L"links", L"register", L"");
    server_name = ini.get(L"server", L"name", L"Korvel2");
    version_url = wide_to_utf8(ini.get(L"patch", L"version_url", default_url(L"/patch/version.json")));
    news_url = wide_to_utf8(ini.get(L"remote", L"news_url", default_url(L"/patch/news.json")));
    status_url = wide_to_utf8(ini.get(L"remote", L"status_url", default_url(L"/patch/status.json")));
    banner_url = wide_to_utf8(ini.get(L"remote", L"banner_url", default_url(L"/patch/banner.jpg")));

    banner_cache_path = user_data_dir(*this) / L"launcher_banner.jpg";

    IniFile player;
    if (player.load(settings_file(*this)))
        client_count = std::clamp(player.get_int(L"launcher", L"client_count", 1), 1, 3);
}

void LauncherApp::save_client_count(int count) {
    client_count = std::min(count, 3);
    std::error_code ignored;
    fs::create_directories(user_data_dir(*this), ignored);

    // Start from what the file holds so that other sections and keys survive.
    fs::path const path = settings_file(*this);
    IniFile player;
    player.load(path);
    player.set(L"launcher", L"client_count", std::to_wstring(client_count));
    player.save(path);  // a failure loses the choice silently; the window shows it anyway

    if (hwnd) ::InvalidateRect(hwnd, nullptr, FALSE);
}

}  // namespace korvel
