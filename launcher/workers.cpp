#include "launcher/workers.h"

#include "launcher/launcher_app.h"

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

void start_fetchers(LauncherApp const&) {
    // The news and status feed fetcher and the banner fetcher are not built yet. Each will
    // start here through start_worker with its own copies of hwnd and its URLs (and, for
    // the banner, banner_cache_path); the banner only when banner_url is not empty.
}

}  // namespace korvel
