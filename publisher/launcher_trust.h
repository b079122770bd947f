#pragma once
// An offered launcher against the release that offers it. Players who take the offer run
// that launcher from then on, with the release keys built into it (core/launcher_keys.h):
// a launcher that trusts no key checks nothing; one that trusts only other keys refuses
// the next release signed like this one; one that trusts a throwaway test key follows
// whoever has a copy of its private half. `build --launcher` refuses each of these before
// anything is written, naming the flag that lets it through, and `verify` reports them on
// the served launcher.

#include "core/launcher_keys.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

// What the publisher learned of an offered launcher's keys.
struct OfferedLauncher {
    std::optional<LauncherKeys> keys;  // nothing when they could not be read
    std::string unreadable;            // then: why
};

// Never throws for what the bytes hold.
OfferedLauncher read_offered_launcher(std::string_view image);

// True when a release key (base64) signs the release that offers the launcher.
using SignsReleaseFn = std::function<bool(std::string const& public_key)>;

// For a build: the key whose public half is `signing_key` signs it ("" when unsigned).
SignsReleaseFn signed_with(std::string signing_key);

// One way the launcher would fail its players: what happens, and what the operator does
// about it, naming `flag`.
struct LauncherSlip {
    std::string problem;
    std::string remedy;
    std::string flag;  // the option of `build` that lets it through, "--allow-..."
};

std::vector<LauncherSlip> launcher_slips(OfferedLauncher const& launcher, bool release_signed,
                                         SignsReleaseFn const& signs);

// The flags of launcher_slips, for the command line.
std::vector<std::string> launcher_slip_flags();

// Lines naming the keys the launcher trusts, marking the one that signs the release and
// throwaway test keys: what players will trust once they take it.
std::vector<std::string> launcher_trust_lines(std::string const& launcher_version, OfferedLauncher const& launcher,
                                              SignsReleaseFn const& signs);

// `build --launcher`: reads the offered file and throws PublishRefused (release_build.h)
// naming every slip not in `allowed` (flags as launcher_slip_flags() names them).
// `signing_key` is the public half of the key that signs the release, "" when unsigned.
OfferedLauncher check_offered_launcher(std::filesystem::path const& file, std::string const& signing_key,
                                       std::set<std::string> const& allowed);

}  // namespace korvel
