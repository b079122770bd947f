#pragma once
// The test patch server (tests/support/patch_server.py) as a test sees it: its base
// URLs, a folder of the test's own below its root, faults for single paths and the
// requests it received. Test programs run in parallel, so every test works below its
// own ServedFolder and never looks at another's files, faults or requests.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korvel::test {

// "http://127.0.0.1:PORT" and "https://localhost:PORT" (the certificate names
// localhost), without a trailing slash.
std::string http_base();
std::string https_base();

// How the server answers one request for a path. Every field left as it is behaves
// normally, so a default Fault{} is a plain answer:
//   {.status = 404}                          a status (with a short text body)
//   {.body = "wrong"}                        these bytes instead of the file
//   {.content_length = "abc"}                this Content-Length, whatever the body
//   {.no_content_length = true}              none; the body ends at the close
//   {.reset_after = 100}                     100 body bytes (of a ranged answer too), then a reset
//   {.stall_after = 0}                       the headers, then nothing for a minute
//   {.ignore_range = true}                   the whole file with 200, whatever Range asks
//   {.multi_range = "whole"}                 several ranges asked: the whole file with 200
//   {.multi_range = "first"}                 several ranges asked: only the first, as a plain 206
//   {.endless = true, .limit_bytes = 1 << 20} the body (or "x") over and over
struct Fault {
    int status = 200;
    std::optional<std::string> body{};  // sent instead of the file (any bytes)
    std::vector<std::pair<std::string, std::string>> headers{};  // extra, e.g. {"Location", url}
    std::optional<std::string> content_length{};              // header value as written
    bool no_content_length = false;
    std::optional<std::uint64_t> reset_after{};  // body bytes before the connection is reset
    bool endless = false;                      // repeats until a limit or the client leaves
    std::uint64_t limit_bytes = 0;             // endless: 0 = the server's 1 GiB
    int limit_ms = 0;                          // endless: 0 = the server's 60 s
    int delay_ms = 0;                          // before the status line
    std::optional<std::uint64_t> stall_after{};  // body bytes, then nothing for stall_ms, then a close
    int stall_ms = 0;                            // 0 = the server's 60 s
    int pace_ms = 0;                           // between body chunks of 64 KiB
    std::uint64_t bytes_per_second = 0;        // a throttled host: the body at this rate
    bool ignore_range = false;                 // Range requests get the whole body and 200
    bool no_etag = false;                      // Last-Modified is the only validator
    bool ignore_if_range = false;              // a Range gets 206 whatever If-Range names
    std::optional<std::string> range_total{};  // the whole length a 206's Content-Range names
    std::optional<std::string> multi_range{};  // "whole" or "first": how several ranges are answered
};

// Bytes first..last of a file (inclusive), as a Range header names them.
struct Span {
    std::uint64_t first, last;
    bool operator==(Span const&) const = default;
    auto operator<=>(Span const&) const = default;
};

// One request as the server received it.
struct Request {
    std::string scheme;  // "http" or "https"
    std::string method;
    std::string path;  // as sent, query included
    int attempt = 0;   // 1 for the first request of the path since its fault was set
    int connection = 0;  // the server's number of the connection it came over, from 1
    double time = 0;     // when it arrived, in seconds since 1970 (the server's clock)
    std::vector<std::pair<std::string, std::string>> headers;

    // The first header of that name, compared without case.
    std::optional<std::string> header(std::string_view name) const;
    // The closed ranges "Range: bytes=a-b,c-d" asks for; none without a Range.
    std::vector<Span> spans() const;
};

// The spans of all these requests, in their order.
std::vector<Span> spans_of(std::vector<Request> const& requests);

// Base64 of a test release public key: "release" (built into the test-key launcher,
// test-keys/davari_test_key_NOT_FOR_PLAYERS.exe, beside "second") or "other" (one that
// nothing trusts).
std::string release_public_key(std::string_view key = "release");

// Every request the server logged so far, in arrival order (all tests' requests).
std::vector<Request> all_requests();

// A fresh folder on the server, "/t/<name>-<pid>-<n>/", removed with its contents
// when the object goes away. Relative paths are plain (unencoded) file names with "/"
// between folders; url() leaves them as they are, so a name that needs percent
// encoding must be encoded by the caller.
class ServedFolder {
public:
    explicit ServedFolder(std::string_view name = "t");
    ~ServedFolder();
    ServedFolder(ServedFolder const&) = delete;
    ServedFolder& operator=(ServedFolder const&) = delete;

    std::string const& prefix() const { return prefix_; }  // "/t/<name>-<pid>-<n>/"
    std::string path(std::string_view relative) const { return prefix_ + std::string(relative); }
    std::string url(std::string_view relative) const { return http_base() + path(relative); }
    std::string https_url(std::string_view relative) const { return https_base() + path(relative); }

    // Where the file of a relative path lies on disk, below the server's root.
    std::filesystem::path local(std::string_view relative) const;

    void put(std::string_view relative, std::string_view bytes) const;

    // Every request for the path gets this answer until clear_fault.
    void set_fault(std::string_view relative, Fault const& fault) const;
    // Request k (from 1) gets attempts[k-1]; later requests are answered normally.
    // Each call starts the count afresh.
    void set_attempts(std::string_view relative, std::vector<Fault> const& attempts) const;
    void clear_fault(std::string_view relative) const;

    // Makes the version document at `relative` a signed release as the operators' tool
    // does: adds "manifest_sha256" (of what its "manifest_url" serves now) and "sequence",
    // and signs it with one of the build's throwaway keys (see release_public_key). Both
    // only in the Windows test programs, which reach the server's signing answers.
    void sign_version(std::string_view relative, std::uint64_t sequence, std::string_view key = "release") const;

    // The requests below this folder, or for one path of it (query ignored), in order.
    std::vector<Request> requests() const;
    std::vector<Request> requests(std::string_view relative) const;

private:
    void write_fault(std::string_view relative, nlohmann::json document) const;

    std::string prefix_;
    std::filesystem::path folder_;
};

}  // namespace korvel::test
