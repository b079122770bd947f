#include "platform/http.h"

#include "core/sha256.h"
#include "platform/file_error.h"
#include "platform/files.h"
#include "platform/sha256.h"
#include "platform/text.h"
#include "platform/unique_handle.h"
#include "platform/win32_error.h"

#include <algorithm>
#include <cwctype>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

namespace korvel {

namespace {

constexpr int resolve_timeout_ms = 15000;
constexpr int connect_timeout_ms = 15000;
constexpr int send_timeout_ms = 30000;

constexpr std::size_t get_buffer_size = 65536;
constexpr DWORD max_connections_per_server = 16;
constexpr std::size_t download_buffer_size = 256 << 10;

// The kept session's default time-outs; each request sets its own receive time-out.
void set_timeouts(HINTERNET handle, int receive_timeout_ms) {
    // A failure here leaves WinHTTP's defaults, which still end a dead transfer.
    ::WinHttpSetTimeouts(handle, resolve_timeout_ms, connect_timeout_ms, send_timeout_ms, receive_timeout_ms);
}

// What WinHTTP reports of one request's pending call, from its own threads. The owner
// starts one call at a time and waits for its completion (or for the transfer's
// cancel); the status callback fills this in and signals `done`. It is freed by the
// callback when the handle is gone (WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING, the last one
// WinHTTP sends), never by the owner: a completion may still arrive after the owner
// stopped waiting for it.
struct Completion {
    UniqueKernelHandle done{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    DWORD status = 0;  // the WINHTTP_CALLBACK_STATUS_* that ended the call
    DWORD error = 0;   // with WINHTTP_CALLBACK_STATUS_REQUEST_ERROR
    DWORD length = 0;  // bytes available or read
};

void CALLBACK on_request_status(HINTERNET, DWORD_PTR context, DWORD status, void* info, DWORD info_length) {
    auto* const completion = reinterpret_cast<Completion*>(context);
    if (!completion) return;  // sessions and connections carry no context
    switch (status) {
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
        delete completion;
        return;
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
        completion->length = *static_cast<DWORD const*>(info);
        break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
        completion->length = info_length;
        break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
        completion->error = static_cast<WINHTTP_ASYNC_RESULT const*>(info)->dwError;
        break;
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
        break;
    default:
        return;
    }
    completion->status = status;
    ::SetEvent(completion->done.get());
}

// One request, used and closed only by the thread that opened it. Each call is started
// on WinHTTP's asynchronous interface and waited for here, together with the transfer's
// cancel: a cancel makes the owner stop waiting and close its own handle, so no thread
// ever calls WinHTTP with a handle value another thread closed (WinHTTP hands a freed
// value to the next request it opens).
class HttpRequest {
public:
    HttpRequest(HttpSession& session, std::string const& url, int receive_timeout_ms, DownloadCancel const* cancel)
        : url_(url), cancel_(cancel) {
        ParsedUrl const target = parse_url(url);
        HINTERNET const connection = session.connection(target);
        handle_.reset(::WinHttpOpenRequest(connection, L"GET", target.path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                           WINHTTP_DEFAULT_ACCEPT_TYPES, target.secure ? WINHTTP_FLAG_SECURE : 0));
        if (!handle_) throw_last_error("WinHttpOpenRequest failed");
        auto completion = std::make_unique<Completion>();
        if (!completion->done) throw_last_error("CreateEventW failed");
        auto context = reinterpret_cast<DWORD_PTR>(completion.get());
        if (!::WinHttpSetOption(handle_.get(), WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context))
            throw_last_error("WinHttpSetOption failed");
        completion_ = completion.release();  // the status callback frees it with the handle
        set_timeouts(handle_.get(), receive_timeout_ms);
        // The wait for the status line and headers has a time-out of its own, which the
        // receive time-out above does not cover: a server that accepts the connection and
        // then says nothing would otherwise hold the caller longer (90 s by default on
        // Windows; Wine waited out a 75 s stall). A failure leaves that default.
        DWORD response_timeout_ms = static_cast<DWORD>(receive_timeout_ms);
        ::WinHttpSetOption(handle_.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &response_timeout_ms,
                           sizeof response_timeout_ms);
    }
    HttpRequest(HttpRequest const&) = delete;
    HttpRequest& operator=(HttpRequest const&) = delete;

    HINTERNET get() const { return handle_.get(); }

    // Sends the request and waits for the answer's status line and headers.
    void send(wchar_t const* headers) {
        throw_if_cancelled();
        DWORD const headers_length = headers ? static_cast<DWORD>(-1) : 0;
        if (!::WinHttpSendRequest(handle_.get(), headers ? headers : WINHTTP_NO_ADDITIONAL_HEADERS, headers_length,
                                  WINHTTP_NO_REQUEST_DATA, 0, 0, 0))
            throw_last_error("WinHttpSendRequest failed");
        wait("WinHttpSendRequest failed", true);
        if (!::WinHttpReceiveResponse(handle_.get(), nullptr)) throw_last_error("WinHttpReceiveResponse failed");
        wait("WinHttpReceiveResponse failed", true);
    }

    // Waits until body bytes are there; 0 at the end of the body.
    std::size_t available() {
        throw_if_cancelled();
        if (!::WinHttpQueryDataAvailable(handle_.get(), nullptr)) throw_last_error("WinHttpQueryDataAvailable failed");
        return wait("WinHttpQueryDataAvailable failed", true);
    }

    // Reads at most what available() reported, which WinHTTP already holds: the call
    // completes without waiting for the network, so it is never abandoned while it
    // could still write into `buffer`.
    std::size_t read(char* buffer, std::size_t size) {
        if (!::WinHttpReadData(handle_.get(), buffer, static_cast<DWORD>(size), nullptr))
            throw_last_error("WinHttpReadData failed");
        return wait("WinHttpReadData failed", false);
    }

    void throw_if_cancelled() const {
        if (cancel_ && cancel_->cancelled()) throw HttpCancelled("Download cancelled: " + url_);
    }

private:
    // Waits for the pending call's completion; with `cancellable`, a cancel ends the wait
    // first and the handle is closed as the exception leaves. Returns the byte count.
    std::size_t wait(char const* failure, bool cancellable) {
        HANDLE const events[] = {completion_->done.get(), cancel_ ? cancel_->event() : nullptr};
        DWORD const count = cancellable && cancel_ ? 2 : 1;
        DWORD const woke = ::WaitForMultipleObjects(count, events, FALSE, INFINITE);
        if (woke == WAIT_OBJECT_0 + 1) throw HttpCancelled("Download cancelled: " + url_);
        if (woke != WAIT_OBJECT_0) throw_last_error(failure);
        if (completion_->status == WINHTTP_CALLBACK_STATUS_REQUEST_ERROR) {
            ::SetLastError(completion_->error);
            throw_last_error(failure);
        }
        return completion_->length;
    }

    std::string url_;
    DownloadCancel const* cancel_;
    UniqueWinHttp handle_;
    Completion* completion_ = nullptr;
};

// Content-Length read the way strtoull reads base 10 (leading blanks, an optional "+",
// digits up to the first non-digit). Absent, too long, digit-less, negative or
// overflowing values all mean "unknown" (0) and are not errors.
std::uint64_t content_length(HINTERNET request) {
    wchar_t text[64] = {};
    DWORD size = sizeof text;
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                               WINHTTP_NO_HEADER_INDEX))
        return 0;
    std::size_t const length = std::min<std::size_t>(size / sizeof(wchar_t), std::size(text) - 1);
    std::size_t i = 0;
    while (i < length && std::iswspace(text[i])) ++i;
    if (i < length && text[i] == L'+') ++i;
    std::uint64_t value = 0;
    std::size_t digits = 0;
    for (; i < length && text[i] >= L'0' && text[i] <= L'9'; ++i, ++digits) {
        std::uint64_t const digit = static_cast<std::uint64_t>(text[i] - L'0');
        if (value > (UINT64_MAX - digit) / 10) return 0;
        value = value * 10 + digit;
    }
    return digits ? value : 0;
}

[[noreturn]] void throw_too_large(std::string const& url, std::uint64_t max_body) {
    throw std::runtime_error("HTTP response larger than " +
                             (max_body % (1 << 20) == 0 ? std::to_string(max_body >> 20) + " MiB: "
                                                        : std::to_string(max_body) + " bytes: ") +
                             url);
}

// A response header by name, or nothing when the answer has none.
std::optional<std::wstring> header_text(HINTERNET request, wchar_t const* name) {
    DWORD size = 0;
    ::WinHttpQueryHeaders(request, WINHTTP_QUERY_CUSTOM, name, WINHTTP_NO_OUTPUT_BUFFER, &size, WINHTTP_NO_HEADER_INDEX);
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return std::nullopt;
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_CUSTOM, name, text.data(), &size, WINHTTP_NO_HEADER_INDEX))
        return std::nullopt;
    text.resize(size / sizeof(wchar_t));
    return text;
}

// What identifies this version of the body for If-Range: a strong ETag, else the
// Last-Modified date (a weak ETag may not be used there). Texts that are not plain
// printable ASCII are not sent back.
std::string validator_of(HINTERNET request) {
    auto const usable = [](std::optional<std::wstring> const& text) {
        if (!text || text->empty()) return false;
        for (wchar_t c : *text)
            if (c < 0x20 || c > 0x7e) return false;
        return true;
    };
    std::optional<std::wstring> const etag = header_text(request, L"ETag");
    if (usable(etag) && !etag->starts_with(L"W/")) return wide_to_utf8(*etag);
    std::optional<std::wstring> const modified = header_text(request, L"Last-Modified");
    if (usable(modified)) return wide_to_utf8(*modified);
    return {};
}

// The decimal number at `i` in `text`, `i` left after it; nothing without digits or
// past 64 bits.
std::optional<std::uint64_t> number_at(std::wstring_view text, std::size_t& i) {
    std::uint64_t value = 0;
    std::size_t const first = i;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        std::uint64_t const digit = static_cast<std::uint64_t>(text[i] - L'0');
        if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    if (i == first) return std::nullopt;
    return value;
}

// "Content-Range: bytes N-M/L": the first byte position N and the whole length L
// (nothing for "*").
struct ContentRange {
    std::uint64_t start = 0;
    std::optional<std::uint64_t> total;
};

std::optional<ContentRange> content_range(HINTERNET request) {
    std::optional<std::wstring> const text = header_text(request, L"Content-Range");
    constexpr std::wstring_view unit = L"bytes ";
    if (!text || !text->starts_with(unit)) return std::nullopt;
    std::size_t i = unit.size();
    std::optional<std::uint64_t> const start = number_at(*text, i);
    if (!start || i >= text->size() || (*text)[i] != L'-') return std::nullopt;
    ContentRange range{*start, std::nullopt};
    if (std::size_t const slash = text->find(L'/', i); slash != std::wstring::npos) {
        i = slash + 1;
        range.total = number_at(*text, i);
    }
    return range;
}

// Whether a 206 answer continues the very bytes the destination's prefix came from: it
// starts where the prefix ends, belongs to a file of the size the caller knows, and,
// when the prefix came with an ETag, carries that ETag (a server that ignores If-Range
// would send another version's bytes as readily).
void check_continuation(HINTERNET request, ResumeFrom const& resume, std::uint64_t expected_size,
                        std::string const& url) {
    std::optional<ContentRange> const range = content_range(request);
    if (!range || range->start != resume.offset || (expected_size && range->total != expected_size))
        throw HttpUnusableRange("Unexpected Content-Range: " + url);
    if (resume.validator.starts_with('"') && header_text(request, L"ETag") != utf8_to_wide(resume.validator))
        throw HttpUnusableRange("Unexpected ETag: " + url);
}

DWORD status_code(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        throw_last_error("Cannot read HTTP status");
    return status;
}

// The network side of a download: a failure here cuts the body short and leaves a true
// prefix of it in the destination.
std::size_t download_available(HttpRequest& request) {
    try {
        return request.available();
    } catch (Win32Error const& e) {
        throw HttpTransferBroken(e.what());
    }
}

std::size_t download_read(HttpRequest& request, char* buffer, std::size_t size) {
    try {
        return request.read(buffer, size);
    } catch (Win32Error const& e) {
        throw HttpTransferBroken(e.what());
    }
}

bool write_all(HANDLE file, char const* data, std::size_t size) {
    while (size > 0) {
        DWORD written = 0;
        if (!::WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) || written == 0) return false;
        data += written;
        size -= written;
    }
    return true;
}

// Feeds the first `length` bytes of the open file to `hash`, through `buffer`. False, with
// the thread's last error set, when a read fails or the file ends first.
bool hash_prefix(HANDLE file, std::uint64_t length, Sha256& hash, std::vector<char>& buffer) {
    while (length > 0) {
        DWORD got = 0;
        DWORD const want = static_cast<DWORD>(std::min<std::uint64_t>(length, buffer.size()));
        if (!::ReadFile(file, buffer.data(), want, &got, nullptr)) return false;
        if (got == 0) {
            ::SetLastError(ERROR_HANDLE_EOF);
            return false;
        }
        hash.update(buffer.data(), got);
        length -= got;
    }
    return true;
}

}  // namespace

DownloadCancel::DownloadCancel() : event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    if (!event_) throw_last_error("CreateEventW failed");
}

void DownloadCancel::cancel() {
    ::SetEvent(event_.get());
}

bool DownloadCancel::cancelled() const {
    return ::WaitForSingleObject(event_.get(), 0) == WAIT_OBJECT_0;
}

HttpSession::HttpSession(std::wstring const& user_agent) {
    session_.reset(::WinHttpOpen(user_agent.c_str(), WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                 WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC));
    if (!session_) throw_last_error("WinHttpOpen failed");
    // Inherited by every connection and request opened below the session.
    if (::WinHttpSetStatusCallback(session_.get(), on_request_status,
                                   WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES,
                                   0) == WINHTTP_INVALID_STATUS_CALLBACK)
        throw_last_error("WinHttpSetStatusCallback failed");
    set_timeouts(session_.get(), http_stall_timeout_ms);
    // Parallel requests to one server must not queue behind a small default limit of
    // connections; a failure leaves WinHTTP's default.
    DWORD max_connections = max_connections_per_server;
    ::WinHttpSetOption(session_.get(), WINHTTP_OPTION_MAX_CONNS_PER_SERVER, &max_connections, sizeof max_connections);
}

HINTERNET HttpSession::connection(ParsedUrl const& target) {
    std::lock_guard const lock(mutex_);
    UniqueWinHttp& kept = connections_[{target.host, target.port}];
    if (!kept) {
        kept.reset(::WinHttpConnect(session_.get(), target.host.c_str(), target.port, 0));
        if (!kept) throw_last_error("WinHttpConnect failed");
    }
    return kept.get();
}

void check_http_status(HINTERNET request, std::string const& url) {
    DWORD const status = status_code(request);
    if (status >= 200 && status <= 299) return;
    std::optional<std::wstring> const retry_after = header_text(request, L"Retry-After");
    std::string text;
    if (retry_after)
        for (wchar_t c : *retry_after)
            if (c >= 0x20 && c < 0x7f) text += static_cast<char>(c);
    throw HttpStatusError(status, url, text);
}

std::string http_get(std::wstring const& user_agent, std::string const& url, std::uint64_t max_body) {
    parse_url(url);  // a bad URL fails before any session is opened
    HttpSession session(user_agent);
    return http_get(session, url, max_body);
}

std::string http_get(HttpSession& session, std::string const& url, std::uint64_t max_body, HttpCaching caching) {
    max_body = std::min(max_body, http_get_max_body);
    HttpRequest request(session, url, http_stall_timeout_ms, nullptr);
    // A document that says what is current must be: no proxy or cache may answer for the server.
    request.send(caching == HttpCaching::revalidate ? L"Cache-Control: no-cache\r\nPragma: no-cache\r\n" : nullptr);
    check_http_status(request.get(), url);

    std::uint64_t const announced = content_length(request.get());
    if (announced > max_body) throw_too_large(url, max_body);

    std::string body;
    std::vector<char> buffer(get_buffer_size, '\0');
    for (;;) {
        std::size_t const n = request.available();
        if (n == 0) break;
        if (n > buffer.size()) buffer.resize(n, '\0');
        std::size_t const got = request.read(buffer.data(), n);
        if (body.size() + got > max_body) throw_too_large(url, max_body);
        body.append(buffer.data(), got);
    }
    // WinHTTP ends the body quietly when the connection closes early; a cut-off
    // document must not pass for a whole one.
    if (body.size() < announced)
        throw HttpTransferBroken("Incomplete HTTP response: " + url + " content-length=" + std::to_string(announced) +
                                 " got=" + std::to_string(body.size()));
    return body;
}

void http_download(std::wstring const& user_agent, std::string const& url, std::filesystem::path const& destination,
                   std::uint64_t expected_size, DownloadProgressFn const& on_progress,
                   std::optional<std::uint64_t> size_limit) {
    parse_url(url);
    HttpSession session(user_agent);
    DownloadOptions options;
    options.expected_size = expected_size;
    options.size_limit = size_limit;
    options.on_progress = on_progress;
    http_download(session, url, destination, options);
}

namespace {

// Sends the request, asking for the rest of a kept prefix when there is one, or only for
// a body that differs from the caller's copy.
void send_download_request(HttpRequest& request, ResumeFrom const* resume, std::string const& revalidate) {
    std::wstring headers;
    if (resume) {
        headers = L"Range: bytes=" + std::to_wstring(resume->offset) + L"-\r\n";
        if (!resume->validator.empty()) headers += L"If-Range: " + utf8_to_wide(resume->validator) + L"\r\n";
    }
    if (!revalidate.empty())
        headers += (revalidate.starts_with('"') ? L"If-None-Match: " : L"If-Modified-Since: ") +
                   utf8_to_wide(revalidate) + L"\r\n";
    request.send(headers.empty() ? nullptr : headers.c_str());
}

// What the answer says of the body: its validator and whether it continues the prefix.
DownloadResult read_answer(HINTERNET request, ResumeFrom const* resume, DownloadOptions const& options,
                           std::string const& url) {
    DownloadResult result;
    result.validator = validator_of(request);
    if (resume && status_code(request) == 206) {
        // Bytes from anywhere else cannot be joined to the prefix, nor stand for the file.
        check_continuation(request, *resume, options.expected_size, url);
        result.resumed = true;
    }
    if (options.on_answer) options.on_answer(DownloadAnswer{result.validator, result.resumed});
    return result;
}

UniqueFile open_destination(std::filesystem::path const& destination, bool resumed) {
    UniqueFile file(::CreateFileW(win32_path(destination).c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  resumed ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        DWORD const code = last_error_of_failure();
        throw file_error(FileStep::create, destination, "Cannot create download file: " + path_text(destination), code);
    }
    return file;
}

FileError write_failure(std::filesystem::path const& destination) {
    DWORD const code = last_error_of_failure();
    return file_error(FileStep::write, destination, "Cannot write download file: " + path_text(destination), code);
}

// Hashes the kept prefix (when the caller hashes) and cuts the file to it.
void continue_after_prefix(HANDLE file, std::uint64_t offset, DownloadOptions const& options,
                           std::vector<char>& buffer, std::filesystem::path const& destination) {
    if (options.hash && !hash_prefix(file, offset, *options.hash, buffer)) {
        DWORD const code = last_error_of_failure();
        throw Win32Error::keeping_text("Cannot read download file: " + path_text(destination), code);
    }
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(file, position, nullptr, FILE_BEGIN) || !::SetEndOfFile(file))
        throw write_failure(destination);
}

// Where the body is being written, and how far it has come.
struct BodySink {
    HANDLE file;
    std::filesystem::path const& destination;
    std::vector<char>& buffer;
    std::uint64_t size;         // of the file, prefix included
    std::uint64_t bytes_total;  // what progress reports as the whole, 0 = unknown
};

// Reads the body into `sink` until it ends; true when it outgrew the expected size and
// was stopped there.
bool receive_body(HttpRequest& request, DownloadOptions const& options, BodySink& sink, DownloadResult& result) {
    std::uint64_t const expected_size = options.expected_size;
    for (;;) {
        std::size_t n = download_available(request);
        if (n == 0) return false;
        while (n > 0) {
            std::size_t const got = download_read(request, sink.buffer.data(), std::min(n, sink.buffer.size()));
            if (got == 0) break;
            if (!write_all(sink.file, sink.buffer.data(), got)) throw write_failure(sink.destination);
            if (options.hash) options.hash->update(sink.buffer.data(), got);
            n -= got;
            result.received += got;
            sink.size += got;
            // A body that outgrows the size the caller knows is wrong already; reading
            // on would only fill the disk (an endless body never stops by itself).
            if (expected_size && sink.size > expected_size) return true;
            if (options.size_limit && sink.size > *options.size_limit)
                throw std::runtime_error("Download larger than " + std::to_string(*options.size_limit) +
                                         " bytes: " + path_text(sink.destination));
            if (options.on_progress) options.on_progress(sink.size, sink.bytes_total);
        }
    }
}

// A body that ended before its Content-Length was cut off on the way: what is there is a
// true prefix. One that was whole but of the wrong size is simply wrong.
void check_body_size(DownloadResult const& result, bool overrun, std::uint64_t announced,
                     std::uint64_t expected_size, std::filesystem::path const& destination) {
    bool const cut_short = !overrun && result.received < announced;
    if (expected_size && result.size != expected_size) {
        std::string const text = "Downloaded size mismatch: " + path_text(destination) +
                                 " expected=" + std::to_string(expected_size) + " got=" + std::to_string(result.size);
        if (cut_short) throw HttpTransferBroken(text);
        throw std::runtime_error(text);
    }
    if (cut_short)
        throw HttpTransferBroken("Incomplete download: " + path_text(destination) + " content-length=" +
                                 std::to_string(announced) + " got=" + std::to_string(result.received));
}

}  // namespace

DownloadResult http_download(HttpSession& session, std::string const& url, std::filesystem::path const& destination,
                             DownloadOptions const& options) {
    HttpRequest request(session, url, http_stall_timeout_ms, options.cancel);
    ResumeFrom const* const resume = options.resume && options.resume->offset > 0 ? &*options.resume : nullptr;
    send_download_request(request, resume, options.revalidate);
    if (!options.revalidate.empty() && status_code(request.get()) == 304) {
        DownloadResult unchanged;
        unchanged.not_modified = true;
        unchanged.validator = options.revalidate;
        return unchanged;
    }
    // Before any folder or file is made: an error answer leaves nothing behind.
    check_http_status(request.get(), url);
    DownloadResult result = read_answer(request.get(), resume, options, url);

    std::uint64_t const offset = result.resumed ? resume->offset : 0;
    std::uint64_t const announced = content_length(request.get());
    std::uint64_t const expected_size = options.expected_size;
    // Without a size of its own, a body announced past the limit is refused before any
    // byte is written (a known size is checked against the body instead).
    if (!expected_size && options.size_limit &&
        (announced > *options.size_limit || offset > *options.size_limit - announced))
        throw std::runtime_error("Download larger than " + std::to_string(*options.size_limit) +
                                 " bytes: " + path_text(destination));

    if (options.make_parent) ensure_parent_dir(destination);
    UniqueFile file = open_destination(destination, result.resumed);
    std::vector<char> own_buffer;
    std::vector<char>& buffer = options.buffer ? *options.buffer : own_buffer;
    if (buffer.size() != download_buffer_size) buffer.assign(download_buffer_size, '\0');
    if (result.resumed) continue_after_prefix(file.get(), offset, options, buffer, destination);
    // Reading a long prefix back takes a while: a cancel that came meanwhile ends the
    // transfer before any byte of the answer is written.
    request.throw_if_cancelled();

    std::uint64_t const bytes_total = expected_size ? expected_size : (announced ? offset + announced : 0);
    BodySink sink{file.get(), destination, buffer, offset, bytes_total};
    bool const overrun = receive_body(request, options, sink, result);
    if (options.flush && !::FlushFileBuffers(file.get())) throw write_failure(destination);
    file.reset();
    result.size = sink.size;
    check_body_size(result, overrun, announced, expected_size, destination);
    return result;
}

// ---- Single ranges, for rebuilding a file from the chunks a player already has ----

namespace {

// "bytes FIRST-LAST/..." exactly as asked, or false.
bool content_range_is(HINTERNET request, std::uint64_t first, std::uint64_t last) {
    std::optional<std::wstring> const text = header_text(request, L"Content-Range");
    if (!text) return false;
    std::wstring const want = L"bytes " + std::to_wstring(first) + L"-" + std::to_wstring(last) + L"/";
    return text->starts_with(want);
}

}  // namespace

void http_get_range(HttpSession& session, std::string const& url, std::uint64_t first, std::uint64_t length,
                    RangeSinkFn const& sink, std::vector<char>& buffer, DownloadCancel const* cancel) {
    if (length == 0) return;
    std::uint64_t const last = first + length - 1;
    HttpRequest request(session, url, http_stall_timeout_ms, cancel);
    std::wstring const headers = L"Range: bytes=" + std::to_wstring(first) + L"-" + std::to_wstring(last) + L"\r\n";
    request.send(headers.c_str());
    check_http_status(request.get(), url);
    // A 200 carries the whole file: its body is never read, the request is closed.
    if (status_code(request.get()) != 206 || !content_range_is(request.get(), first, last))
        throw HttpRangeRefused("Ranges not served as asked: " + url);
    // Room for the range and the one byte that would show it overran, up to the usual
    // buffer: a run keeps dozens of small ranges in flight.
    std::size_t const room = static_cast<std::size_t>(std::min<std::uint64_t>(length + 1, download_buffer_size));
    if (buffer.size() < room) buffer.assign(room, '\0');
    std::uint64_t received = 0;
    for (;;) {
        std::size_t const n = download_available(request);
        if (n == 0) break;
        std::size_t const want = static_cast<std::size_t>(std::min<std::uint64_t>({n, buffer.size(), length - received + 1}));
        std::size_t const got = download_read(request, buffer.data(), want);
        if (got == 0) break;
        if (received + got > length) throw HttpRangeRefused("Ranges not served as asked: " + url);
        sink(buffer.data(), got);
        received += got;
    }
    if (received != length)
        throw HttpTransferBroken("Incomplete range: " + url + " expected=" + std::to_string(length) +
                                 " got=" + std::to_string(received));
}

// ---- Several ranges in one request, for the scattered chunks a player lacks ----

namespace {

[[noreturn]] void throw_ranges_refused(std::string const& url) {
    throw HttpRangeRefused("Ranges not served as asked: " + url);
}

// The boundary of a multipart/byteranges answer, or HttpRangeRefused: a single range, or
// a whole file that a cache sent with 206 anyway, is not what several ranges need.
std::string byteranges_boundary_of(HINTERNET request, std::string const& url) {
    std::optional<std::wstring> const type = header_text(request, L"Content-Type");
    if (!type || std::any_of(type->begin(), type->end(), [](wchar_t c) { return c > 0x7e; }))
        throw_ranges_refused(url);
    std::optional<std::string> boundary = byteranges_boundary(wide_to_utf8(*type));
    if (!boundary) throw_ranges_refused(url);
    return std::move(*boundary);
}

}  // namespace

void http_get_ranges(HttpSession& session, std::string const& url, std::span<HttpRange const> ranges,
                     RangesSinkFn const& sink, std::vector<char>& buffer, DownloadCancel const* cancel) {
    check_asked_ranges(ranges);
    if (ranges.size() == 1) {
        http_get_range(
            session, url, ranges[0].first, ranges[0].length,
            [&sink](char const* data, std::size_t size) { sink(0, data, size); }, buffer, cancel);
        return;
    }
    HttpRequest request(session, url, http_stall_timeout_ms, cancel);
    std::wstring const headers = L"Range: " + utf8_to_wide(range_header_value(ranges)) + L"\r\n";
    request.send(headers.c_str());
    check_http_status(request.get(), url);
    // A 200 carries the whole file: its body is never read, the request is closed.
    if (status_code(request.get()) != 206) throw_ranges_refused(url);
    ByteRangesParser parser(byteranges_boundary_of(request.get(), url), ranges, sink);
    std::uint64_t const announced = content_length(request.get());
    if (announced > parser.most_bytes()) throw_ranges_refused(url);

    std::size_t const room =
        static_cast<std::size_t>(std::min<std::uint64_t>(parser.most_bytes(), download_buffer_size));
    if (buffer.size() < room) buffer.assign(room, '\0');
    std::uint64_t received = 0;
    try {
        for (;;) {
            std::size_t const n = download_available(request);
            if (n == 0) break;
            std::size_t const got = download_read(request, buffer.data(), std::min(n, buffer.size()));
            if (got == 0) break;
            parser.feed(buffer.data(), got);
            received += got;
        }
    } catch (ByteRangesRefused const&) {
        throw_ranges_refused(url);
    }
    if (parser.complete()) return;
    // The whole announced body came and still lacks parts: the answer itself is short.
    if (announced && received >= announced) throw_ranges_refused(url);
    throw HttpTransferBroken("Incomplete ranges: " + url + " content-length=" + std::to_string(announced) +
                             " got=" + std::to_string(received));
}

}  // namespace korvel
