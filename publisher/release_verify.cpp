#include "publisher/release_verify.h"

#include "core/manifest.h"
#include "core/version_document.h"
#include "platform/http.h"
#include "publisher/progress_line.h"
#include "publisher/remote_file.h"

#include <optional>

namespace korvel {

namespace {

// One line for a file whose served bytes differ from what the documents list. `size`
// 0 is a real size for a game file but "not given" for the launcher.
void compare(std::string const& what, std::optional<std::uint64_t> size, std::string const& sha256,
             FileDigest const& got, std::vector<std::string>& problems) {
    if (size && got.size > *size)
        problems.push_back(what + ": larger than the listed " + std::to_string(*size) + " bytes");
    else if (size && got.size != *size)
        problems.push_back(what + ": size " + std::to_string(got.size) + ", listed " + std::to_string(*size));
    else if (got.sha256 != sha256)
        problems.push_back(what + ": SHA-256 " + got.sha256 + ", listed " + sha256);
}

}  // namespace

VerifyReport verify_release(std::string const& version_url, std::ostream& progress) {
    VerifyReport report;
    VersionDocument version;
    Manifest manifest;
    try {
        version = read_version_document(http_get(launcher_user_agent, version_url));
    } catch (std::exception const& e) {
        report.problems.push_back("version document " + version_url + ": " + e.what());
        return report;
    }
    try {
        manifest = read_manifest(http_get(launcher_user_agent, version.manifest_url));
    } catch (std::exception const& e) {
        report.problems.push_back("manifest " + version.manifest_url + ": " + e.what());
        return report;
    }

    ProgressLine line(progress, "checked", manifest.files.size() + (version.launcher_offered ? 1 : 0));
    BytesReadFn const count = [&line](std::uint64_t n) { line.add_bytes(n); };
    for (FileEntry const& file : manifest.files) {
        std::string const url = build_file_url(manifest.base_url, file.path);
        try {
            compare(file.path, file.size, file.sha256, hash_remote_file(url, file.size, count), report.problems);
        } catch (std::exception const& e) {
            report.problems.push_back(file.path + ": unreachable: " + e.what());
        }
        ++report.files_checked;
        line.file_done();
    }
    if (version.launcher_offered) {
        LauncherUpdate const& l = version.launcher;
        std::string const what = "launcher " + l.version + " (" + l.url + ")";
        // The launcher has no size limit of its own when the document names none; a
        // launcher larger than this is not one.
        std::uint64_t const limit = l.size ? l.size : (1ull << 30);
        try {
            compare(what, l.size ? std::optional(l.size) : std::nullopt, l.sha256, hash_remote_file(l.url, limit, count),
                    report.problems);
        } catch (std::exception const& e) {
            report.problems.push_back(what + ": unreachable: " + e.what());
        }
        ++report.files_checked;
        line.file_done();
    }
    line.finish();
    return report;
}

}  // namespace korvel
