#pragma once
// The launcher a version document offers, as the patcher carries it on.

#include <cstdint>
#include <filesystem>
#include <string>

namespace korvel {

// The launcher the server offers ("launcher" in version.json), and once it has been
// downloaded and verified, where it waits for the hand-off.
struct LauncherUpdate {
    bool ready = false;
    std::string version;
    std::string url;
    std::string sha256;               // lower-case hex
    std::uint64_t size = 0;           // 0 when the server did not say
    std::filesystem::path new_exe_path;
};

}  // namespace korvel
