#include "patcher/file_downloads.h"

#include "core/ascii.h"
#include "patcher/download_progress.h"
#include "platform/files.h"
#include "platform/http.h"
#include "platform/sha256.h"

#include <chrono>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace korvel {

namespace {

constexpr auto pause_between_attempts = std::chrono::milliseconds(2000);

// Download, verify, move into place, remember. Throws on any failure.
void attempt_download(DownloadItem const& item, fs::path const& part, HashCache& cache,
                      DownloadProgressFn const& on_progress) {
    // The manifest's size is the truth for a game file, 0 included: the server may send
    // no byte more, however long its body claims or turns out to be.
    http_download(launcher_user_agent, item.url, part, item.size, on_progress, item.size);
    std::string const hash = ascii_lower(sha256_file(part));
    if (hash != item.sha256) throw std::runtime_error("SHA-256 eltérés: " + item.path);
    replace_file(part, item.local_path);
    cache[item.path] = CacheEntry{item.size, file_mtime(item.local_path), hash};
}

}  // namespace

fs::path part_path_for(fs::path const& local_path) {
    fs::path part = local_path;
    part += ".korvel.part";
    return part;
}

void download_files(std::vector<DownloadItem> const& items, HashCache& cache, ProgressReporter const& reporter) {
    PatchProgress& progress = reporter.progress;
    std::uint64_t const k = items.size();

    for (std::uint64_t i = 0; i < k; ++i) {
        DownloadItem const& item = items[i];
        progress.current_file = widen_for_display(item.path);
        progress.bytes_total = item.size;
        progress.bytes_done = 0;
        progress.files_done = i;

        DownloadClock const clock;
        fs::path const part = part_path_for(item.local_path);
        std::string last_error;
        bool placed = false;

        for (int attempt = 1; attempt <= download_attempts && !placed; ++attempt) {
            auto const on_progress = [&](std::uint64_t done, std::uint64_t total) {
                progress.bytes_done = done;
                progress.bytes_total = total;
                double const fraction = total != 0 ? static_cast<double>(done) / static_cast<double>(total) : 0.0;
                progress.percent = percent_from((static_cast<double>(i) + fraction) / static_cast<double>(k) * 100.0);
                apply_rate(progress, clock);
                progress.detail = L"Jelenlegi fájl: " + progress.current_file + L"  (próba " +
                                  std::to_wstring(attempt) + L"/3)";
                reporter.report();
            };
            try {
                attempt_download(item, part, cache, on_progress);
                placed = true;
            } catch (std::exception const& e) {
                last_error = e.what();
                std::error_code ignored;
                fs::remove(part, ignored);
                if (attempt < download_attempts) std::this_thread::sleep_for(pause_between_attempts);
            }
        }
        if (!placed) throw std::runtime_error(last_error);

        progress.files_done = i + 1;
        progress.percent = static_cast<std::int32_t>((i + 1) * 100 / k);
        progress.detail = L"Elkészült: " + progress.current_file;
        reporter.report();
    }
}

}  // namespace korvel
