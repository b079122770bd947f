#include "launcher/workers.h"

#include "launcher/launcher_app.h"
#include "launcher/banner_fetch.h"
#include "launcher/feeds.h"

#include <exception>
#include <thread>
#include <utility>

namespace korvel {

bool start_worker(std::function<void()> body) noexcept {
    try {
        std::thread(std::move(body)).detach();
        return true;
    } catch (std::exception const&) {
        // std::system_error when the system refuses a thread, std::bad_alloc before that.
        return false;
    }
}

void start_fetchers(LauncherApp const& app) {
    // Each worker gets its own copies; a worker that cannot start leaves the window's
    // start-up contents in place (default news, "checking" status, cached banner).
    start_worker([hwnd = app.hwnd, news = app.news_url, status = app.status_url] { fetch_feeds(hwnd, news, status); });
    if (!app.banner_url.empty())
        start_worker([hwnd = app.hwnd, url = app.banner_url, cache = app.banner_cache_path] {
            fetch_banner(hwnd, url, cache);
        });
}

}  // namespace korvel
