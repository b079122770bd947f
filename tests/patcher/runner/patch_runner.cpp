// Runs one patch pass in a process of its own, so that a test can kill it halfway.
// Usage: patch_runner GAME_DIR VERSION_FILE HASH_CACHE_FILE VERSION_URL [--public-key B64]
// With --public-key only a release signed with the private half of one of its keys is
// followed (several keys separated by commas, as the launcher's build takes them).
#include "patcher/patcher_engine.h"
#include "platform/text.h"

#include <cstdio>
#include <exception>
#include <string_view>

int wmain(int argc, wchar_t** argv) {
    bool const keyed = argc == 7 && std::wstring_view(argv[5]) == L"--public-key";
    if (argc != 5 && !keyed) {
        std::fprintf(stderr,
                     "usage: patch_runner GAME_DIR VERSION_FILE HASH_CACHE_FILE VERSION_URL [--public-key B64]\n");
        return 2;
    }
    korvel::PatchConfig config;
    config.game_dir = argv[1];
    config.version_file = argv[2];
    config.hash_cache_file = argv[3];
    config.version_url = korvel::wide_to_utf8(argv[4]);
    config.launcher_version = "2.1.0";
    if (keyed) config.release_public_key = korvel::wide_to_utf8(argv[6]);
    try {
        korvel::PatcherEngine::run(config, false, {});
    } catch (std::exception const& e) {
        std::fprintf(stderr, "patch_runner: %s\n", e.what());
        return 1;
    }
    return 0;
}
