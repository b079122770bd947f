#include "launcher/settings.h"

#include "platform/text.h"
#include "window/window_state.h"

#include <algorithm>
#include <sstream>
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

fs::path settings_file(fs::path const& user_data) {
    return user_data / L"launcher_settings.ini";
}

}  // namespace

LauncherSettings read_launcher_settings(IniFile const& ini, fs::path const& base_dir, WindowState& shown) {
    LauncherSettings settings;
    settings.window_title = ini.get(L"branding", L"window_title", settings.window_title);
    shown.logo_text = ini.get(L"branding", L"logo", shown.logo_text);
    shown.subtitle = ini.get(L"branding", L"subtitle", shown.subtitle);
    shown.hero_title = ini.get(L"hero", L"title", shown.hero_title);
    shown.hero_subtitle = ini.get(L"hero", L"subtitle", shown.hero_subtitle);
    settings.client = read_client_section(ini);
    shown.website_url = ini.get(L"links", L"website", L"");
    shown.discord_url = ini.get(L"links", L"discord", L"");
    shown.register_url = ini.get(L"links", L"register", L"");
    shown.server_name = ini.get(L"server", L"name", L"Korvel2");
    settings.version_url = wide_to_utf8(ini.get(L"patch", L"version_url", default_url(L"/patch/version.json")));
    std::istringstream fallbacks(wide_to_utf8(ini.get(L"patch", L"fallback_version_urls", L"")));
    for (std::string url; fallbacks >> url;) settings.fallback_version_urls.push_back(url);
    settings.news_url = wide_to_utf8(ini.get(L"remote", L"news_url", default_url(L"/patch/news.json")));
    settings.status_url = wide_to_utf8(ini.get(L"remote", L"status_url", default_url(L"/patch/status.json")));
    settings.banner_url = wide_to_utf8(ini.get(L"remote", L"banner_url", default_url(L"/patch/banner.jpg")));
    settings.shipped_banner = ini.get(L"assets", L"banner", settings.shipped_banner);
    settings.banner_cache_path = user_data_dir(base_dir, settings.client) / L"launcher_banner.jpg";
    return settings;
}

fs::path user_data_dir(fs::path const& base_dir, ClientSection const& client) {
    return resolve_against(base_dir, client.root) / L"UserData";
}

int read_client_count(fs::path const& user_data, int fallback) {
    IniFile player;
    if (!player.load(settings_file(user_data))) return fallback;
    return std::clamp(player.get_int(L"launcher", L"client_count", 1), 1, k_max_clients);
}

void store_client_count(fs::path const& user_data, int count) {
    std::error_code ignored;
    fs::create_directories(user_data, ignored);
    // Start from what the file holds so that other sections and keys survive.
    fs::path const path = settings_file(user_data);
    IniFile player;
    player.load(path);
    player.set(L"launcher", L"client_count", std::to_wstring(count));
    player.save(path);
}

}  // namespace korvel
