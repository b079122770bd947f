#pragma once
// launcher.ini beside the launcher and launcher_settings.ini in the client's UserData
// folder: what an installation sets, and the one choice the player makes in the window.

#include "launcher/client_launch.h"
#include "launcher/ini_file.h"

#include <filesystem>
#include <string>
#include <vector>

namespace korvel {

struct WindowState;

// What launcher.ini sets for the launcher itself, with the built-in values for missing
// keys. The window's texts and links go straight into its WindowState.
struct LauncherSettings {
    std::wstring window_title = L"Korvel2 Launcher";
    ClientSection client;
    std::string version_url;  // UTF-8, like every URL
    // [patch] fallback_version_urls, space-separated: tried in order when version_url
    // cannot be read.
    std::vector<std::string> fallback_version_urls;
    std::string news_url;
    std::string status_url;
    std::string banner_url;  // empty: no banner download
    // The banner shipped with the launcher ([assets] banner), relative to it as written.
    std::wstring shipped_banner = L"assets/banner.jpg";
    // The downloaded banner, kept in UserData.
    std::filesystem::path banner_cache_path;
};

// Reads launcher.ini's keys for the launcher of `base_dir`, and the window's texts and
// links into `shown` (whose values stand where a text key is missing).
LauncherSettings read_launcher_settings(IniFile const& ini, std::filesystem::path const& base_dir,
                                        WindowState& shown);

// The client's UserData folder: the game folder's, as the client root names it.
std::filesystem::path user_data_dir(std::filesystem::path const& base_dir, ClientSection const& client);

// The player's client count from launcher_settings.ini in `user_data`, 1..k_max_clients;
// `fallback` when the file cannot be read.
int read_client_count(std::filesystem::path const& user_data, int fallback);

// Stores the client count in launcher_settings.ini in `user_data`, keeping whatever else
// that file holds. A failed write is silent: the window shows the choice anyway.
void store_client_count(std::filesystem::path const& user_data, int count);

}  // namespace korvel
