#include "publisher/release_verify.h"

#include "core/chunk_index.h"
#include "core/manifest.h"
#include "core/sha256.h"
#include "core/version_document.h"
#include "publisher/host.h"
#include "publisher/progress_line.h"
#include "publisher/release_signing.h"

#include <deque>
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

std::string sha256_hex(std::string_view bytes) {
    Sha256 hash;
    hash.update(bytes.data(), bytes.size());
    return to_hex(hash.finalize());
}

// The served index as the manifest describes it, and its chunking parameters; "" and a
// problem line when it is not.
std::optional<ChunkerParams> fetch_index(std::string const& path, ChunkIndexRef const& ref, std::string& bytes,
                                         std::vector<std::string>& problems) {
    std::string const what = path + ": chunk index " + ref.url;
    try {
        bytes = fetch_document(ref.url);
    } catch (std::exception const& e) {
        problems.push_back(what + ": unreachable: " + e.what());
        return std::nullopt;
    }
    if (bytes.size() != ref.size || sha256_hex(bytes) != ref.sha256 || ref.head_size > bytes.size() ||
        sha256_hex(std::string_view(bytes).substr(0, ref.head_size)) != ref.head_sha256) {
        problems.push_back(what + ": size or SHA-256 not as listed");
        return std::nullopt;
    }
    try {
        ChunkIndexHead const head = read_chunk_index_head(bytes);
        if (head.head_size() != ref.head_size) throw std::runtime_error("head size not as listed");
        return head.params;
    } catch (std::exception const& e) {
        problems.push_back(what + ": " + e.what());
        return std::nullopt;
    }
}

}  // namespace

VerifyReport verify_release(std::string const& version_url, std::string const& public_key, std::ostream& progress) {
    VerifyReport report;
    VersionDocument version;
    Manifest manifest;
    std::string version_body, manifest_body;
    try {
        version_body = fetch_document(version_url);
        version = read_version_document(version_body);
    } catch (std::exception const& e) {
        report.problems.push_back("version document " + version_url + ": " + e.what());
        return report;
    }
    try {
        manifest_body = fetch_document(version.manifest_url);
        manifest = read_manifest(manifest_body);
    } catch (std::exception const& e) {
        report.problems.push_back("manifest " + version.manifest_url + ": " + e.what());
        return report;
    }
    // A launcher with the key built in would stop here: nothing else is worth fetching.
    if (!public_key.empty()) {
        report.problems = signature_problems(version_body, manifest_body, public_key);
        if (!report.problems.empty()) return report;
    }

    // What each fetched body is compared with; the launcher last, as the player's
    // launcher fetches it.
    struct Expected {
        std::string what;
        std::optional<std::uint64_t> size;
        std::string const* sha256;
        std::string index;  // the served chunk index the body must chunk to, when there is one
    };
    std::vector<RemoteFile> remote;
    std::vector<Expected> expected;
    std::deque<ChunkerParams> params;  // kept in place for the RemoteFiles that point at them
    std::vector<std::string> index_problems;
    for (FileEntry const& file : manifest.files) {
        remote.push_back({build_file_url(manifest.base_url, file.path), file.size});
        expected.push_back({file.path, file.size, &file.sha256, {}});
        if (!file.chunk_index) continue;
        if (std::optional<ChunkerParams> p = fetch_index(file.path, *file.chunk_index, expected.back().index, index_problems)) {
            params.push_back(*p);
            remote.back().index_params = &params.back();
        }
    }
    if (version.launcher_offered) {
        LauncherUpdate const& l = version.launcher;
        // The launcher has no size limit of its own when the document names none; a
        // launcher larger than this is not one.
        remote.push_back({l.url, l.size ? l.size : (1ull << 30)});
        expected.push_back({"launcher " + l.version + " (" + l.url + ")", l.size ? std::optional(l.size) : std::nullopt,
                            &l.sha256, {}});
    }

    // Files finish in any order; their lines are reported in manifest order.
    std::vector<std::vector<std::string>> lines(remote.size());
    ProgressLine line(progress, "checked", remote.size());
    BytesReadFn const count = [&line](std::uint64_t n) { line.add_bytes(n); };
    hash_remote_files(remote, count, [&](std::size_t i, FileDigest const* digest, std::string const& error) {
        Expected const& e = expected[i];
        if (digest) {
            compare(e.what, e.size, *e.sha256, *digest, lines[i]);
            if (remote[i].index_params && digest->chunk_index != e.index)
                lines[i].push_back(e.what + ": the chunk index does not match the file");
        } else
            lines[i].push_back(e.what + ": unreachable: " + error);
        ++report.files_checked;
        line.file_done();
    });
    line.finish();
    report.problems = std::move(index_problems);
    for (std::vector<std::string>& file_lines : lines)
        for (std::string& problem : file_lines) report.problems.push_back(std::move(problem));
    return report;
}

}  // namespace korvel
