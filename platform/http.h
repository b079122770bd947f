#pragma once
// A small blocking HTTP(S) client over WinHTTP: plain GETs (each call waits on WinHTTP's
// asynchronous interface, so that a cancel can end the wait). A call either uses an
// HttpSession that the caller keeps for many requests (so that WinHTTP reuses its
// kept-alive connections), or opens a session of its own and closes it before it
// returns or throws. No retries, no cache, no cookies; callers decide what to retry.
// Any thread.


#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <stdexcept>
#include <utility>
#include <vector>

#include "platform/byte_ranges.h"
#include "platform/unique_handle.h"

namespace korvel {

class Sha256;

struct ParsedUrl {
    std::wstring host;
    std::wstring path;  // path + query/fragment as written; "/" when empty
    std::uint16_t port = 0;
    bool secure = false;
};

// (bytes received so far, bytes expected or 0 when unknown); may be empty.
using DownloadProgressFn = std::function<void(std::uint64_t, std::uint64_t)>;

// Throws "Invalid URL: " + url, or the UTF-8 conversion error.
ParsedUrl parse_url(std::string const& url);

// One WinHTTP session for many requests, from any number of threads at once. WinHTTP
// keeps a session's connections open between requests and reuses them, so a patch run
// that fetches thousands of files pays for a handful of connections, not one each. The
// connection handle of each host and port is opened once and kept until the end.
class HttpSession {
public:
    // Throws "WinHttpOpen failed" with the Win32 code.
    explicit HttpSession(std::wstring const& user_agent);
    HttpSession(HttpSession const&) = delete;
    HttpSession& operator=(HttpSession const&) = delete;

    // The kept connection handle for the URL's host and port; throws "WinHttpConnect failed".
    HINTERNET connection(ParsedUrl const& target);

private:
    UniqueWinHttp session_;  // declared first: closed after every connection
    std::mutex mutex_;
    std::map<std::pair<std::wstring, std::uint16_t>, UniqueWinHttp> connections_;
};

// A request that receives nothing this long (no status line, or no byte of the body) fails
// with ERROR_WINHTTP_TIMEOUT: a stalled host is left after this, not after minutes.
inline constexpr int http_stall_timeout_ms = 20000;

// Bodies of http_get beyond this many bytes are refused: the documents it fetches are
// small, and a broken or hostile server must not be able to exhaust the player's memory.
inline constexpr std::uint64_t http_get_max_body = 128ull << 20;

// Whether a cache between may answer for the server. A document that says what is
// current must come from the server; one whose URL names its release never changes, and
// a CDN that keeps it spares the server every player's copy.
enum class HttpCaching { revalidate, allowed };

// The whole body in memory (raw bytes). With HttpCaching::revalidate sends no-cache
// headers. Throws on any failure, on a status outside 200..299 (HttpStatusError), on a
// body shorter than its Content-Length (HttpTransferBroken) and on a body larger than
// `max_body` (at most http_get_max_body), as soon as it is announced or received.
std::string http_get(std::wstring const& user_agent, std::string const& url,
                     std::uint64_t max_body = http_get_max_body);
std::string http_get(HttpSession& session, std::string const& url, std::uint64_t max_body = http_get_max_body,
                     HttpCaching caching = HttpCaching::revalidate);

// Streams the body into `destination` (created or truncated; never deleted on failure).
// A non-zero `expected_size` is enforced ("Downloaded size mismatch: ..."), and the
// transfer stops as soon as the body grows past it. A body shorter than its
// Content-Length fails too. A non-2xx answer creates no file.
// `size_limit`, when given, is a hard cap independent of `expected_size` (where 0 means
// "unknown"): the transfer stops as soon as the body passes it ("Download larger than N
// bytes: " + destination), so even a limit of 0 accepts no body byte; without an
// expected size, a Content-Length past it is refused before the destination is opened.
void http_download(std::wstring const& user_agent, std::string const& url, std::filesystem::path const& destination,
                   std::uint64_t expected_size, DownloadProgressFn const& on_progress,
                   std::optional<std::uint64_t> size_limit = std::nullopt);

// A download that continues a destination cut short earlier: its first `offset` bytes
// came from an answer whose validator was `validator`. An empty validator (bytes that came
// from another host, whose validators differ) asks for the rest without If-Range.
struct ResumeFrom {
    std::uint64_t offset = 0;
    std::string validator;
};

// What the answer said before its body, given to DownloadOptions::on_answer.
struct DownloadAnswer {
    // The ETag, or the Last-Modified date when there is no (strong) ETag; empty when the
    // server sent neither, and then the body cannot be continued after a break.
    std::string validator;
    bool resumed = false;  // the body continues the destination at ResumeFrom::offset
};

// Ends, from any thread, every transfer given it, at once. A transfer waiting for bytes
// that do not come (a stalled server) would otherwise notice a stop only when they
// arrive, or at its receive time-out minutes later. Each request waits for WinHTTP and
// for this signal together; on the signal its own thread stops waiting, closes its
// handle and fails with HttpCancelled. No other thread ever closes a request. Once
// cancelled, every transfer given it fails before it sends.
class DownloadCancel {
public:
    DownloadCancel();  // throws Win32Error ("CreateEventW failed")
    DownloadCancel(DownloadCancel const&) = delete;
    DownloadCancel& operator=(DownloadCancel const&) = delete;

    void cancel();
    bool cancelled() const;
    HANDLE event() const { return event_.get(); }  // signalled by cancel(), and stays so

private:
    UniqueKernelHandle event_;
};

// A transfer ended by its DownloadCancel: "Download cancelled: " + url. What a download
// wrote by then is a true prefix of the answer's body, as after HttpTransferBroken.
class HttpCancelled : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct DownloadOptions {
    std::uint64_t expected_size = 0;            // as in http_download above; 0 = unknown
    std::optional<std::uint64_t> size_limit{};  // as in http_download above
    DownloadProgressFn on_progress{};           // bytes of the destination, resumed prefix included
    // Asks only for the bytes from `offset` on ("Range: bytes=N-" with "If-Range:
    // validator"). Only a 206 whose Content-Range starts at `offset` (and, with a non-zero
    // expected_size, names that as the whole length) is appended; a 200 answer truncates
    // the destination and fills it from the start; a 206 for other bytes fails with
    // HttpUnusableRange ("Unexpected Content-Range: " + url), and one without the ETag
    // that the validator names with HttpUnusableRange ("Unexpected ETag: " + url).
    std::optional<ResumeFrom> resume{};
    // Fed every byte the destination ends with (a kept prefix is read back once), so
    // that the caller has the file's SHA-256 without reading it again.
    Sha256* hash = nullptr;
    bool make_parent = true;  // false: the caller has made the destination's folder
    bool flush = false;       // flushes the file's data to disk before it is closed
    // The 1 MiB read buffer, kept by a caller that downloads many files in a row;
    // without it each call allocates its own.
    std::vector<char>* buffer = nullptr;
    // Called once the status is good, before the destination is opened.
    std::function<void(DownloadAnswer const&)> on_answer{};
    // Ends the transfer from another thread (HttpCancelled).
    DownloadCancel const* cancel = nullptr;
    // The validator (DownloadResult::validator) of a copy the caller keeps: sent as
    // If-None-Match for an ETag or If-Modified-Since for a date. A 304 answer then leaves
    // the destination untouched and returns `not_modified`.
    std::string revalidate{};
};

struct DownloadResult {
    std::uint64_t size = 0;      // bytes in the destination
    std::uint64_t received = 0;  // body bytes of this answer
    bool resumed = false;
    std::string validator;
    bool not_modified = false;  // a 304 to DownloadOptions::revalidate; nothing was written
};

// Thrown when a transfer breaks after a good status (a failed read, or a body shorter
// than its Content-Length): the destination then holds a true prefix of the answer's
// body, which a later request may continue. Its text is the one http_download gives.
class HttpTransferBroken : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A 206 answer whose Content-Range does not start where the destination ends.
class HttpUnusableRange : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// http_download through a kept session, with the options above. The destination is
// opened and written through one handle; a failure to create or write it is a FileError
// (file_error.h) that names its cause.
DownloadResult http_download(HttpSession& session, std::string const& url, std::filesystem::path const& destination,
                             DownloadOptions const& options);

// A status outside 200..299: "HTTP " + status + ": " + url, with the answer's
// Retry-After as sent (empty when it had none).
class HttpStatusError : public std::runtime_error {
public:
    HttpStatusError(DWORD status, std::string const& url, std::string retry_after = {})
        : std::runtime_error("HTTP " + std::to_string(status) + ": " + url), status_(status),
          retry_after_(std::move(retry_after)) {}
    DWORD status() const { return status_; }
    std::string const& retry_after() const { return retry_after_; }

private:
    DWORD status_;
    std::string retry_after_;
};

// Throws "Cannot read HTTP status" (with the Win32 code) or, for any status outside
// 200..299, HttpStatusError. `request` has received its response.
void check_http_status(HINTERNET request, std::string const& url);

// A Range request answered with anything but a 206 for exactly the asked bytes: a 200
// with the whole file, another range, a longer body. The server, or a cache before it,
// does not serve ranges that can be used.
class HttpRangeRefused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using RangeSinkFn = std::function<void(char const*, std::size_t)>;

// GETs bytes [first, first + length) of `url` with one "Range" and hands them to `sink`
// as they arrive, through `buffer` (grown to the range, up to 1 MiB). Throws
// HttpStatusError for a status outside 200..299, HttpRangeRefused as above (a 200's body
// is not read), HttpTransferBroken when fewer bytes arrive, and HttpCancelled when
// `cancel` ends it.
// No cache headers: the file is immutable.
void http_get_range(HttpSession& session, std::string const& url, std::uint64_t first, std::uint64_t length,
                    RangeSinkFn const& sink, std::vector<char>& buffer, DownloadCancel const* cancel = nullptr);

// HttpRange and http_most_ranges: platform/byte_ranges.h, beside the reader of the answer.

// (the range's position in `ranges`, bytes of it) as they arrive, each range's bytes in order.
using RangesSinkFn = std::function<void(std::size_t, char const*, std::size_t)>;

// GETs several ranges of `url` with one "Range: bytes=a-b,c-d,..." request. `ranges`:
// 1..http_most_ranges, ascending, neither overlapping nor touching (else std::invalid_argument).
// With one range it behaves as http_get_range. With several, only a 206 whose Content-Type is
// multipart/byteranges with a boundary, whose parts carry exactly the asked ranges in the asked
// order (each part's Content-Range "bytes a-b/total" equal to the asked range; total may be
// "*" or a number), is accepted; anything else (a 200 with the whole file, whose body is not
// read; a single-part 206; parts coalesced, reordered, missing or extra; a part header or
// preamble that is malformed or overlong; bytes after the closing delimiter other than an
// optional CRLF) throws HttpRangeRefused ("Ranges not served as asked: " + url) as soon as it
// shows. Bytes already handed to `sink` before a failure are true bytes of their range (a
// part's bytes go on only once no delimiter can begin in them, so a part shorter than its
// Content-Range passes on nothing of what follows it).
// Throws HttpStatusError for a status outside 200..299, HttpTransferBroken when the body ends
// early, HttpCancelled when `cancel` ends it. `buffer` as for http_get_range.
void http_get_ranges(HttpSession& session, std::string const& url, std::span<HttpRange const> ranges,
                     RangesSinkFn const& sink, std::vector<char>& buffer, DownloadCancel const* cancel = nullptr);

}  // namespace korvel
