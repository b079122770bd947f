#include "window/banner.h"

#include "launcher/launcher_app.h"

namespace korvel {

bool LauncherApp::load_banner_image(std::filesystem::path const&) {
    return false;  // not built yet: the banner area keeps its fallback
}

void fetch_banner(HWND, std::string, std::filesystem::path) noexcept {}

}  // namespace korvel
