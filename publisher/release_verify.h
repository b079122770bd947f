#pragma once
// `korvel-publish verify`: the operator's check before and after an upload. Reads the
// version document and the manifest the way the launcher does, from the server or from
// OUT_DIR on disk, checks that they follow the published layout, that the manifest has the
// SHA-256 the document names and (with a key) the signature and sequence, then hashes every
// listed file (and the offered launcher) and compares size and SHA-256, and reads the
// release keys the offered launcher trusts (launcher_trust.h). Nothing is kept.

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace korvel {

struct VerifyReport {
    std::uint64_t files_checked = 0;
    std::string base;                   // the base URL the release is published under, when it follows the layout
    std::string signature;              // "signature OK, sequence N", or a note on a signed document left unchecked
    std::vector<std::string> launcher_trust;  // the release keys the offered launcher trusts (launcher_trust.h)
    std::vector<std::string> notes;     // what could not be checked and is no fault
    std::vector<std::string> problems;  // one line each; empty when everything matches
};

// With `public_keys` (base64, comma-separated, as davari.exe's build takes them) the
// release must be signed with the private half of one of them, name the manifest's
// SHA-256 and have a sequence; when it does not, those problems are reported and no file
// is read. With `expected_base` the release must be published under that base URL.
// Each of `mirrors` (a server root, as `build --mirror` takes it) must serve the same
// release: the same version document and manifest bytes, and every file under the same
// path as below the base.
struct VerifyOptions {
    std::string public_keys;
    std::string expected_base;
    std::vector<std::string> mirrors;
};

// Never throws for what it finds: an unreadable document or file is a problem line.
VerifyReport verify_release(std::string const& version_url, VerifyOptions const& options, std::ostream& progress);

// The same for a release on disk before it is uploaded: `target` is OUT_DIR or its
// patch/version.json; the files are looked for below OUT_DIR by their URLs' paths under
// the base URL.
VerifyReport verify_local_release(std::filesystem::path const& target, VerifyOptions const& options,
                                  std::ostream& progress);

}  // namespace korvel
