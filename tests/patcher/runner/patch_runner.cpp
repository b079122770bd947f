// Runs one patch pass in a process of its own, so that a test can kill it halfway.
// Usage: patch_runner GAME_DIR VERSION_FILE HASH_CACHE_FILE VERSION_URL
#include "patcher/patcher_engine.h"
#include "platform/text.h"

#include <cstdio>
#include <exception>

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: patch_runner GAME_DIR VERSION_FILE HASH_CACHE_FILE VERSION_URL\n");
        return 2;
    }
    korvel::PatchConfig config;
    config.game_dir = argv[1];
    config.version_file = argv[2];
    config.hash_cache_file = argv[3];
    config.version_url = korvel::wide_to_utf8(argv[4]);
    config.launcher_version = "2.1.0";
    try {
        korvel::PatcherEngine::run(config, false, {});
    } catch (std::exception const& e) {
        std::fprintf(stderr, "patch_runner: %s\n", e.what());
        return 1;
    }
    return 0;
}
