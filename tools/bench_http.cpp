// Download speed of http_download, for scripts/bench_http.sh; not part of the product.
//   bench_http URL DESTINATION [EXPECTED_SIZE]   http_download into DESTINATION
//   bench_http --winhttp-only URL                 bare WinHTTP read loop, bytes dropped:
//                                                 the ceiling WinHTTP itself allows here
//   bench_http --parallel N URL_LIST OUT_DIR      N threads over one WinHTTP session fetch
//                                                 every URL of the list (one a line), each
//                                                 body into OUT_DIR\<line number>: the
//                                                 ceiling for many small files
// Prints one line: bytes, seconds, MB/s, callbacks and the process's peak working set.
#include "core/user_agent.h"
#include "platform/http.h"
#include "platform/text.h"
#include "platform/unique_handle.h"

#include <windows.h>
#include <psapi.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

std::uint64_t bare_winhttp(std::string const& url) {
    korvel::ParsedUrl const target = korvel::parse_url(url);
    korvel::UniqueWinHttp session(::WinHttpOpen(korvel::launcher_user_agent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                                WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    korvel::UniqueWinHttp connection(session ? ::WinHttpConnect(session.get(), target.host.c_str(), target.port, 0)
                                             : nullptr);
    korvel::UniqueWinHttp request(connection ? ::WinHttpOpenRequest(connection.get(), L"GET", target.path.c_str(),
                                                                    nullptr, WINHTTP_NO_REFERER,
                                                                    WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                                    target.secure ? WINHTTP_FLAG_SECURE : 0)
                                             : nullptr);
    if (!request || !::WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, nullptr, 0, 0, 0) ||
        !::WinHttpReceiveResponse(request.get(), nullptr))
        throw std::runtime_error("WinHTTP request failed: " + std::to_string(::GetLastError()));
    std::vector<char> buffer(1 << 20);
    std::uint64_t total = 0;
    for (;;) {
        DWORD n = 0;
        DWORD got = 0;
        if (!::WinHttpQueryDataAvailable(request.get(), &n) || n == 0) break;
        if (!::WinHttpReadData(request.get(), buffer.data(), std::min<DWORD>(n, buffer.size()), &got) || got == 0)
            break;
        total += got;
    }
    return total;
}

// Every URL fetched once by `threads` threads sharing one session and one connection
// handle, each body written to its own file and nothing else done with it.
std::uint64_t bare_parallel(int threads, std::wstring const& list, std::wstring const& out_dir) {
    std::vector<std::string> urls;
    std::ifstream in{std::filesystem::path(list)};
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) urls.push_back(line);
    if (urls.empty()) throw std::runtime_error("no URLs in the list");
    korvel::ParsedUrl const first = korvel::parse_url(urls.front());
    korvel::UniqueWinHttp session(::WinHttpOpen(korvel::launcher_user_agent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                                WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    korvel::UniqueWinHttp connection(session ? ::WinHttpConnect(session.get(), first.host.c_str(), first.port, 0)
                                             : nullptr);
    if (!connection) throw std::runtime_error("WinHTTP session failed: " + std::to_string(::GetLastError()));

    std::atomic<std::size_t> next{0};
    std::atomic<std::uint64_t> total{0};
    std::atomic<bool> failed{false};
    auto const work = [&] {
        std::vector<char> buffer(1 << 20);
        for (std::size_t i; !failed && (i = next++) < urls.size();) {
            korvel::ParsedUrl const target = korvel::parse_url(urls[i]);
            korvel::UniqueWinHttp request(::WinHttpOpenRequest(connection.get(), L"GET", target.path.c_str(), nullptr,
                                                               WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, 0));
            std::wstring const path = out_dir + L"\\" + std::to_wstring(i);
            korvel::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                                  FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!request || !file ||
                !::WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, nullptr, 0, 0, 0) ||
                !::WinHttpReceiveResponse(request.get(), nullptr)) {
                failed = true;
                return;
            }
            for (;;) {
                DWORD n = 0;
                DWORD got = 0;
                DWORD written = 0;
                if (!::WinHttpQueryDataAvailable(request.get(), &n) || n == 0) break;
                if (!::WinHttpReadData(request.get(), buffer.data(), std::min<DWORD>(n, buffer.size()), &got) ||
                    got == 0)
                    break;
                ::WriteFile(file.get(), buffer.data(), got, &written, nullptr);
                total += got;
            }
        }
    };
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) workers.emplace_back(work);
    for (std::thread& w : workers) w.join();
    if (failed) throw std::runtime_error("a WinHTTP request failed");
    return total;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    bool const bare = argc == 3 && std::wstring(argv[1]) == L"--winhttp-only";
    bool const parallel = argc == 5 && std::wstring(argv[1]) == L"--parallel";
    if (!bare && !parallel && (argc < 3 || argc > 4)) {
        std::fprintf(stderr, "usage: bench_http URL DESTINATION [EXPECTED_SIZE] | --winhttp-only URL"
                             " | --parallel N URL_LIST OUT_DIR\n");
        return 2;
    }
    try {
        std::uint64_t calls = 0;
        std::uint64_t received = 0;
        auto const start = std::chrono::steady_clock::now();
        if (parallel) {
            received = bare_parallel(std::stoi(argv[2]), argv[3], argv[4]);
        } else if (bare) {
            received = bare_winhttp(korvel::wide_to_utf8(argv[2]));
        } else {
            std::uint64_t const expected = argc == 4 ? std::stoull(argv[3]) : 0;
            korvel::http_download(korvel::launcher_user_agent, korvel::wide_to_utf8(argv[1]), argv[2], expected,
                                  [&](std::uint64_t done, std::uint64_t) {
                                      ++calls;
                                      received = done;
                                  });
        }
        double const seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

        PROCESS_MEMORY_COUNTERS memory{};
        memory.cb = sizeof memory;
        ::GetProcessMemoryInfo(::GetCurrentProcess(), &memory, sizeof memory);
        std::printf("bytes=%llu seconds=%.3f mb_per_s=%.1f callbacks=%llu peak_working_set_kib=%llu\n",
                    static_cast<unsigned long long>(received), seconds, received / seconds / 1e6,
                    static_cast<unsigned long long>(calls),
                    static_cast<unsigned long long>(memory.PeakWorkingSetSize / 1024));
        return 0;
    } catch (std::exception const& e) {
        std::fprintf(stderr, "bench_http: %s\n", e.what());
        return 1;
    }
}
