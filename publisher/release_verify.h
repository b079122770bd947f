#pragma once
// `korvel-publish verify`: the operator's check after an upload. Fetches the version
// document and the manifest the way the launcher does, then streams every listed file
// (and the offered launcher) and compares size and SHA-256. Nothing is kept on disk.

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace korvel {

struct VerifyReport {
    std::uint64_t files_checked = 0;
    std::vector<std::string> problems;  // one line each; empty when everything matches
};

// Never throws for what it finds: an unreadable document or file is a problem line.
// With a `public_key` (base64, as davari.exe's build takes it) the release must be
// signed with its private key, name the served manifest's SHA-256 and have a sequence;
// when it does not, those problems are reported and no file is fetched.
VerifyReport verify_release(std::string const& version_url, std::string const& public_key, std::ostream& progress);

}  // namespace korvel
