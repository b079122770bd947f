#include "launcher/workers.h"

#include "launcher/banner_fetch.h"
#include "launcher/feeds.h"
#include "launcher/settings.h"

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

void start_fetchers(HWND hwnd, LauncherSettings const& settings) {
    // Each worker gets its own copies; a worker that cannot start leaves the window's
    // start-up contents in place (default news, "checking" status, cached banner).
    start_worker([hwnd, news = settings.news_url, status = settings.status_url] { fetch_feeds(hwnd, news, status); });
    if (!settings.banner_url.empty())
        start_worker([hwnd, url = settings.banner_url, cache = settings.banner_cache_path] {
            fetch_banner(hwnd, url, cache);
        });
}

}  // namespace korvel
