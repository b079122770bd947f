#pragma once
// What a launcher says about the release keys built into it, readable from its file
// without running it. The launcher's build (launcher/CMakeLists.txt) writes, from the same
// checked list it compiles in, a resource of davari.exe (core/release_keys_resource.h)
// holding ASCII lines:
//     korvel-release-keys 1
//     key BASE64_PUBLIC_KEY             one line per trusted key, in the build's order
//     throwaway-key BASE64_PUBLIC_KEY   a test key whose private half lies in build folders
// Only the header line for a launcher that checks no signature.

#include <string>
#include <string_view>
#include <vector>

namespace korvel {

struct TrustedKey {
    std::string key;         // base64 of the 65-byte point, as core/release_keys.h checks it
    bool throwaway = false;  // a test key: never to reach a player
};

struct LauncherKeys {
    std::vector<TrustedKey> keys;  // empty: the launcher checks no signature
};

// Reads the record from a launcher's file bytes. Throws std::runtime_error saying why it
// cannot: not a well-formed Windows program (core/pe_resource.h), no record (a launcher
// built before the record existed, or another program), or a record not in this form.
LauncherKeys read_launcher_keys(std::string_view image);

}  // namespace korvel
