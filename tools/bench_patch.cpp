// Runs one patch pass over a game folder and prints how long it took, how many files
// it saw, how long it spent comparing existing files for reuse (seed_s: the reports
// whose detail line says so), the process's peak working set and the bytes read of each
// delta seed ("seed_read NAME BYTES" lines). Used by
// scripts/bench_patch.sh and, with "install" (a quick check that is expected to
// download), by scripts/bench_network.sh, scripts/bench_delta.sh and
// scripts/bench_patchday.sh (which names the mirrors' version documents as fallbacks).
// Usage: bench_patch GAME_DIR STATE_DIR VERSION_URL quick|full|install [FALLBACK_VERSION_URL]...
#include "patcher/patcher_engine.h"
#include "platform/text.h"

#include <windows.h>
#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

// Adds up the time between a report that starts a stretch and the first report that
// does not continue it.
class Stretches {
public:
    void report(bool inside) {
        auto const now = Clock::now();
        if (inside && !inside_) since_ = now;
        if (!inside && inside_) total_ += now - since_;
        inside_ = inside;
    }
    double seconds() {
        report(false);
        return std::chrono::duration<double>(total_).count();
    }

private:
    bool inside_ = false;
    Clock::time_point since_;
    Clock::duration total_{};
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 5) {
        std::fprintf(stderr,
                     "usage: bench_patch GAME_DIR STATE_DIR VERSION_URL quick|full|install"
                     " [FALLBACK_VERSION_URL]...\n");
        return 2;
    }
    korvel::PatchConfig config;
    config.game_dir = argv[1];
    config.version_file = std::filesystem::path(argv[2]) / "client.version";
    config.hash_cache_file = std::filesystem::path(argv[2]) / "hash_cache.json";
    config.version_url = korvel::wide_to_utf8(argv[3]);
    for (int i = 5; i < argc; ++i) config.fallback_version_urls.push_back(korvel::wide_to_utf8(argv[i]));
    config.launcher_version = "2.1.0";
    bool const full = std::wstring(argv[4]) == L"full";
    bool const install = std::wstring(argv[4]) == L"install";

    std::uint64_t files = 0, downloads = 0;
    Stretches seeding;
    auto const start = std::chrono::steady_clock::now();
    auto verify_start = start, verify_end = start, download_end = start;
    korvel::PatchResult result;
    try {
        result = korvel::PatcherEngine::run(config, full, [&](korvel::PatchProgress const& p) {
            seeding.report(p.detail.rfind(L"Meglévő fájl összevetése", 0) == 0);
            if (p.stage == korvel::PatchStage::Verifying && p.files_done == 0 && p.current_file.empty()) {
                verify_start = std::chrono::steady_clock::now();
                files = p.files_total;
            }
            if (p.stage == korvel::PatchStage::Downloading && verify_end == start) {
                verify_end = std::chrono::steady_clock::now();
                downloads = p.files_total;
            }
            if (p.stage == korvel::PatchStage::Finalizing && download_end == start)
                download_end = std::chrono::steady_clock::now();
        });
    } catch (std::exception const& e) {
        std::fprintf(stderr, "bench_patch: %s\n", e.what());
        return 1;
    }
    auto const end = std::chrono::steady_clock::now();
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
    std::printf(
        "files=%llu downloads=%llu verify_s=%.3f download_s=%.3f seed_s=%.3f total_s=%.3f peak_working_set_mib=%.1f\n",
        static_cast<unsigned long long>(files), static_cast<unsigned long long>(downloads),
        std::chrono::duration<double>(verify_end - verify_start).count(),
        std::chrono::duration<double>(download_end - verify_end).count(), seeding.seconds(),
        std::chrono::duration<double>(end - start).count(), counters.PeakWorkingSetSize / 1048576.0);
    for (auto const& [name, bytes] : result.seed_bytes_read)
        std::printf("seed_read %s %llu\n", name.c_str(), static_cast<unsigned long long>(bytes));
    return (downloads == 0) != install ? 0 : 3;
}
