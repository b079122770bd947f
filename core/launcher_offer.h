#pragma once
// The launcher a version document offers, as the patcher carries it on.

#include <cstdint>
#include <string>

namespace korvel {

// The launcher the server offers ("launcher" in version.json).
struct LauncherUpdate {
    std::string version;
    std::string url;
    std::string sha256;               // lower-case hex
    std::uint64_t size = 0;           // 0 when the server did not say
};

}  // namespace korvel
