#include "core/user_agent.h"
#include "publisher/host.h"

#include "publisher/file_digest.h"
#include "platform/http.h"
#include "platform/unique_handle.h"
#include "platform/win32_error.h"

#include <vector>

namespace korvel {

namespace {

// GETs `url` and returns the body's size and SHA-256. Throws what the HTTP client throws
// ("HTTP 404: " + url, Win32 errors ...).
FileDigest hash_remote_file(RemoteFile const& file, BytesReadFn const& on_read) {
    std::string const& url = file.url;
    std::uint64_t const size_limit = file.size_limit;
    ParsedUrl const target = parse_url(url);
    UniqueWinHttp session(::WinHttpOpen(launcher_user_agent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                        WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) throw_last_error("WinHttpOpen failed");
    ::WinHttpSetTimeouts(session.get(), 15000, 15000, 30000, 120000);
    UniqueWinHttp connection(::WinHttpConnect(session.get(), target.host.c_str(), target.port, 0));
    if (!connection) throw_last_error("WinHttpConnect failed");
    UniqueWinHttp request(::WinHttpOpenRequest(connection.get(), L"GET", target.path.c_str(), nullptr,
                                               WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                               target.secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request) throw_last_error("WinHttpOpenRequest failed");
    // The check is about what the server itself holds now, not a cache's older copy.
    if (!::WinHttpSendRequest(request.get(), L"Cache-Control: no-cache\r\nPragma: no-cache\r\n",
                              static_cast<DWORD>(-1), WINHTTP_NO_REQUEST_DATA, 0, 0, 0))
        throw_last_error("WinHttpSendRequest failed");
    if (!::WinHttpReceiveResponse(request.get(), nullptr)) throw_last_error("WinHttpReceiveResponse failed");
    check_http_status(request.get(), url);

    FileDigester digester(file.index_params);
    std::uint64_t size = 0;
    std::vector<char> buffer(1 << 20);
    for (;;) {
        DWORD got = 0;
        if (!::WinHttpReadData(request.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got))
            throw_last_error("WinHttpReadData failed");
        if (got == 0) break;
        // An endless or oversized body is wrong already; reading on would only cost time.
        if (size + got > size_limit) {
            FileDigest digest = digester.finish();
            digest.size = size_limit + 1;
            return digest;
        }
        digester.update(buffer.data(), got);
        size += got;
        if (on_read) on_read(got);
    }
    return digester.finish();
}

}  // namespace

// One file after the other: WinHTTP's synchronous calls under Wine are what this build
// is kept for, not speed.
void hash_remote_files(std::vector<RemoteFile> const& files, BytesReadFn const& on_read, RemoteDoneFn const& done) {
    for (std::size_t i = 0; i < files.size(); ++i) {
        FileDigest digest;
        try {
            digest = hash_remote_file(files[i], on_read);
        } catch (std::exception const& e) {
            done(i, nullptr, e.what());
            continue;
        }
        done(i, &digest, {});
    }
}

}  // namespace korvel
