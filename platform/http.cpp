#include "platform/http.h"

#include "platform/files.h"
#include "platform/text.h"
#include "platform/unique_handle.h"
#include "platform/win32_error.h"

#include <algorithm>
#include <cwctype>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace korvel {

namespace {

constexpr int resolve_timeout_ms = 15000;
constexpr int connect_timeout_ms = 15000;
constexpr int send_timeout_ms = 30000;
constexpr int get_receive_timeout_ms = 60000;
constexpr int download_receive_timeout_ms = 120000;

constexpr std::size_t get_buffer_size = 65536;
constexpr std::size_t download_buffer_size = 1 << 20;

// Takes the error code before anything else can overwrite it.
[[noreturn]] void throw_last_error(char const* what) {
    DWORD const code = ::GetLastError();
    throw win32_error(what, code);
}

// The three handles of one call. Members are destroyed in reverse order, so the
// request goes first and the session last, also when an exception unwinds.
struct Exchange {
    UniqueWinHttp session;
    UniqueWinHttp connection;
    UniqueWinHttp request;
};

Exchange open_request(std::wstring const& user_agent, std::string const& url, int receive_timeout_ms) {
    ParsedUrl const target = parse_url(url);
    Exchange x;

    HINTERNET const session = ::WinHttpOpen(user_agent.c_str(), WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                            WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session) throw_last_error("WinHttpOpen failed");
    x.session.reset(session);
    // A failure here leaves WinHTTP's defaults, which still end a dead transfer.
    ::WinHttpSetTimeouts(session, resolve_timeout_ms, connect_timeout_ms, send_timeout_ms, receive_timeout_ms);

    HINTERNET const connection = ::WinHttpConnect(session, target.host.c_str(), target.port, 0);
    if (!connection) throw_last_error("WinHttpConnect failed");
    x.connection.reset(connection);

    HINTERNET const request =
        ::WinHttpOpenRequest(connection, L"GET", target.path.c_str(), nullptr, WINHTTP_NO_REFERER,
                             WINHTTP_DEFAULT_ACCEPT_TYPES, target.secure ? WINHTTP_FLAG_SECURE : 0);
    if (!request) throw_last_error("WinHttpOpenRequest failed");
    x.request.reset(request);
    // The wait for the status line and headers has a time-out of its own, which the
    // receive time-out above does not cover: a server that accepts the connection and
    // then says nothing would otherwise hold the caller longer (90 s by default on
    // Windows; Wine waited out a 75 s stall). A failure leaves that default.
    DWORD response_timeout_ms = static_cast<DWORD>(receive_timeout_ms);
    ::WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &response_timeout_ms,
                       sizeof response_timeout_ms);
    return x;
}

void send_and_receive(HINTERNET request, wchar_t const* headers) {
    DWORD const headers_length = headers ? static_cast<DWORD>(-1) : 0;
    if (!::WinHttpSendRequest(request, headers ? headers : WINHTTP_NO_ADDITIONAL_HEADERS, headers_length,
                              WINHTTP_NO_REQUEST_DATA, 0, 0, 0))
        throw_last_error("WinHttpSendRequest failed");
    if (!::WinHttpReceiveResponse(request, nullptr)) throw_last_error("WinHttpReceiveResponse failed");
}

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

std::size_t bytes_available(HINTERNET request) {
    DWORD n = 0;
    if (!::WinHttpQueryDataAvailable(request, &n)) throw_last_error("WinHttpQueryDataAvailable failed");
    return n;
}

std::size_t read_into(HINTERNET request, char* buffer, std::size_t size) {
    DWORD got = 0;
    if (!::WinHttpReadData(request, buffer, static_cast<DWORD>(size), &got)) throw_last_error("WinHttpReadData failed");
    return got;
}

[[noreturn]] void throw_too_large(std::string const& url, std::uint64_t max_body) {
    throw std::runtime_error("HTTP response larger than " +
                             (max_body % (1 << 20) == 0 ? std::to_string(max_body >> 20) + " MiB: "
                                                        : std::to_string(max_body) + " bytes: ") +
                             url);
}

}  // namespace

void check_http_status(HINTERNET request, std::string const& url) {
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        throw_last_error("Cannot read HTTP status");
    if (status < 200 || status > 299) throw std::runtime_error("HTTP " + std::to_string(status) + ": " + url);
}

std::string http_get(std::wstring const& user_agent, std::string const& url, std::uint64_t max_body) {
    max_body = std::min(max_body, http_get_max_body);
    Exchange const x = open_request(user_agent, url, get_receive_timeout_ms);
    HINTERNET const request = x.request.get();
    // The documents must be current: no proxy or cache may answer for the server.
    send_and_receive(request, L"Cache-Control: no-cache\r\nPragma: no-cache\r\n");
    check_http_status(request, url);

    std::uint64_t const announced = content_length(request);
    if (announced > max_body) throw_too_large(url, max_body);

    std::string body;
    std::vector<char> buffer(get_buffer_size, '\0');
    for (;;) {
        std::size_t const n = bytes_available(request);
        if (n == 0) break;
        if (n > buffer.size()) buffer.resize(n, '\0');
        std::size_t const got = read_into(request, buffer.data(), n);
        if (body.size() + got > max_body) throw_too_large(url, max_body);
        body.append(buffer.data(), got);
    }
    // WinHTTP ends the body quietly when the connection closes early; a cut-off
    // document must not pass for a whole one.
    if (body.size() < announced)
        throw std::runtime_error("Incomplete HTTP response: " + url + " content-length=" + std::to_string(announced) +
                                 " got=" + std::to_string(body.size()));
    return body;
}

void http_download(std::wstring const& user_agent, std::string const& url, std::filesystem::path const& destination,
                   std::uint64_t expected_size, DownloadProgressFn const& on_progress,
                   std::optional<std::uint64_t> size_limit) {
    Exchange const x = open_request(user_agent, url, download_receive_timeout_ms);
    HINTERNET const request = x.request.get();
    send_and_receive(request, nullptr);
    // Before any folder or file is made: an error answer leaves nothing behind.
    check_http_status(request, url);

    std::uint64_t const announced = content_length(request);
    std::uint64_t const bytes_total = expected_size ? expected_size : announced;

    ensure_parent_dir(destination);
    std::string const destination_text = wide_to_utf8(destination.native());
    std::ofstream file(destination, std::ios::binary | std::ios::trunc);
    if (!file) throw std::runtime_error("Cannot create download file: " + destination_text);

    std::uint64_t bytes_done = 0;
    bool overrun = false;
    std::vector<char> buffer(download_buffer_size, '\0');
    while (!overrun) {
        std::size_t n = bytes_available(request);
        if (n == 0) break;
        while (n > 0) {
            std::size_t const got = read_into(request, buffer.data(), std::min(n, buffer.size()));
            if (got == 0) break;
            file.write(buffer.data(), static_cast<std::streamsize>(got));
            if (!file) throw std::runtime_error("Cannot write download file: " + destination_text);
            n -= got;
            bytes_done += got;
            // A body that outgrows the size the caller knows is wrong already; reading
            // on would only fill the disk (an endless body never stops by itself).
            if (expected_size && bytes_done > expected_size) {
                overrun = true;
                break;
            }
            if (size_limit && bytes_done > *size_limit)
                throw std::runtime_error("Download larger than " + std::to_string(*size_limit) +
                                         " bytes: " + destination_text);
            if (on_progress) on_progress(bytes_done, bytes_total);
        }
    }
    file.close();

    if (expected_size && bytes_done != expected_size)
        throw std::runtime_error("Downloaded size mismatch: " + destination_text +
                                 " expected=" + std::to_string(expected_size) + " got=" + std::to_string(bytes_done));
    if (bytes_done < announced)
        throw std::runtime_error("Incomplete download: " + destination_text + " content-length=" +
                                 std::to_string(announced) + " got=" + std::to_string(bytes_done));
}

}  // namespace korvel
