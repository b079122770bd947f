#pragma once
// The release public keys davari.exe was built with (cmake -DKORVEL_RELEASE_PUBLIC_KEY=...,
// comma-separated when it trusts more than one, see core/release_keys.h),
// handed over by its entry point. It is never read from a file: the game folder,
// launcher.ini included, is what a patch server could change.

#include <string>
#include <string_view>

namespace korvel {

// Entry point only, before any thread starts.
void set_release_public_key(std::string_view base64_key);

// Base64 of the 65-byte P-256 points, comma-separated; empty when the launcher checks no signatures.
std::string const& release_public_key();

}  // namespace korvel
