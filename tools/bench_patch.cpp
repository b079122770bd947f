// Runs one patch pass over a game folder and prints how long it took, how many files
// it saw, how long it spent comparing existing files for reuse (seed_s: the reports
// whose detail line says so), the process's peak working set and the bytes read of each
// delta seed ("seed_read NAME BYTES" lines). Used by
// scripts/bench_patch.sh and, with "install" (a quick check that is expected to
// download), by scripts/bench_network.sh, scripts/bench_delta.sh and
// scripts/bench_patchday.sh (which names the mirrors' version documents as fallbacks).
// With --engines N, N engines install at once in threads of this one process, engine K
// into GAME_DIR\K and STATE_DIR\K (folders it makes), each with its own state as if it
// were a player of its own; each prints its line with its number and the wall-clock
// second it ended (end_unix), as the stampede of scripts/bench_patchday.sh needs.
// Usage: bench_patch [--engines N] GAME_DIR STATE_DIR VERSION_URL quick|full|install [FALLBACK_VERSION_URL]...
#include "patcher/patcher_engine.h"
#include "platform/text.h"

#include <windows.h>
#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

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


// One engine's pass: its figures or its error (without a newline), whether it failed
// with an error, whether it ended as expected (downloading exactly when installing) and
// its seed_read lines.
struct Pass {
    std::string line;
    bool error = true;
    bool ok = false;
    std::string seeds_read;
};

Pass run_pass(korvel::PatchConfig const& config, std::wstring const& mode) {
    bool const full = mode == L"full";
    bool const install = mode == L"install";
    std::uint64_t files = 0, downloads = 0;
    Stretches seeding;
    auto const start = Clock::now();
    auto verify_start = start, verify_end = start, download_end = start;
    korvel::PatchResult result;
    try {
        result = korvel::PatcherEngine::run(config, full, [&](korvel::PatchProgress const& p) {
            seeding.report(p.detail.rfind(L"Meglévő fájl összevetése", 0) == 0);
            if (p.stage == korvel::PatchStage::Verifying && p.files_done == 0 && p.current_file.empty()) {
                verify_start = Clock::now();
                files = p.files_total;
            }
            if (p.stage == korvel::PatchStage::Downloading && verify_end == start) {
                verify_end = Clock::now();
                downloads = p.files_total;
            }
            if (p.stage == korvel::PatchStage::Finalizing && download_end == start) download_end = Clock::now();
        });
    } catch (std::exception const& e) {
        return {std::string("bench_patch: ") + e.what(), true, false, {}};
    }
    auto const end = Clock::now();
    char line[256];
    std::snprintf(line, sizeof line, "files=%llu downloads=%llu verify_s=%.3f download_s=%.3f seed_s=%.3f total_s=%.3f",
                  static_cast<unsigned long long>(files), static_cast<unsigned long long>(downloads),
                  std::chrono::duration<double>(verify_end - verify_start).count(),
                  std::chrono::duration<double>(download_end - verify_end).count(), seeding.seconds(),
                  std::chrono::duration<double>(end - start).count());
    std::string seeds_read;
    for (auto const& [name, bytes] : result.seed_bytes_read)
        seeds_read += "seed_read " + name + " " + std::to_string(bytes) + "\n";
    return {line, false, (downloads == 0) != install, seeds_read};
}

double peak_working_set_mib() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
    return counters.PeakWorkingSetSize / 1048576.0;
}

korvel::PatchConfig config_for(std::filesystem::path const& game_dir, std::filesystem::path const& state_dir,
                               wchar_t** urls, int url_count) {
    korvel::PatchConfig config;
    config.game_dir = game_dir;
    config.version_file = state_dir / "client.version";
    config.hash_cache_file = state_dir / "hash_cache.json";
    config.version_url = korvel::wide_to_utf8(urls[0]);
    for (int i = 1; i < url_count; ++i) config.fallback_version_urls.push_back(korvel::wide_to_utf8(urls[i]));
    config.launcher_version = "2.1.0";
    return config;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    int engines = 0;  // 0: one engine, in GAME_DIR itself
    if (argc > 2 && std::wstring(argv[1]) == L"--engines") {
        engines = std::max(1, _wtoi(argv[2]));
        argc -= 2;
        argv += 2;
    }
    if (argc < 5) {
        std::fprintf(stderr,
                     "usage: bench_patch [--engines N] GAME_DIR STATE_DIR VERSION_URL quick|full|install"
                     " [FALLBACK_VERSION_URL]...\n");
        return 2;
    }
    std::wstring const mode = argv[4];
    // The version URL first, then the fallbacks.
    std::vector<wchar_t*> urls{argv[3]};
    urls.insert(urls.end(), argv + 5, argv + argc);
    if (engines == 0) {
        Pass const pass = run_pass(config_for(argv[1], argv[2], urls.data(), static_cast<int>(urls.size())), mode);
        if (pass.error) {
            std::fprintf(stderr, "%s\n", pass.line.c_str());
            return 1;
        }
        std::printf("%s peak_working_set_mib=%.1f\n%s", pass.line.c_str(), peak_working_set_mib(),
                    pass.seeds_read.c_str());
        return pass.ok ? 0 : 3;
    }
    std::vector<Pass> passes(static_cast<std::size_t>(engines));
    std::vector<double> ends(passes.size());
    {
        std::vector<std::jthread> threads;
        for (std::size_t k = 0; k < passes.size(); ++k) {
            threads.emplace_back([&, k] {
                std::filesystem::path const game = std::filesystem::path(argv[1]) / std::to_wstring(k + 1);
                std::filesystem::path const state = std::filesystem::path(argv[2]) / std::to_wstring(k + 1);
                std::error_code made;
                std::filesystem::create_directories(game, made);
                if (!made) std::filesystem::create_directories(state, made);
                passes[k] = made ? Pass{"bench_patch: " + made.message(), true, false, {}}
                                 : run_pass(config_for(game, state, urls.data(), static_cast<int>(urls.size())), mode);
                ends[k] = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
            });
        }
    }
    bool all_ok = true;
    for (std::size_t k = 0; k < passes.size(); ++k) {
        std::printf("engine=%zu end_unix=%.3f %s\n%s", k + 1, ends[k], passes[k].line.c_str(),
                    passes[k].seeds_read.c_str());
        all_ok = all_ok && passes[k].ok;
    }
    std::printf("peak_working_set_mib=%.1f\n", peak_working_set_mib());
    return all_ok ? 0 : 3;
}
