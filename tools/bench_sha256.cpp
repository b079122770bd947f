// Hashes one file with sha256_file (the CPU's SHA extensions when present) or, with
// --portable or --bmi2, through the portable compression function (as built for any
// x86-64 CPU, or for BMI2) with the same 1 MiB reads.
// Prints the digest, the throughput and the process's peak working set.
#include "core/sha256.h"
#include "platform/sha256.h"
#include "platform/text.h"
#include "platform/unique_handle.h"

#include <windows.h>
#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string hash_with(std::filesystem::path const& path, korvel::Sha256Compress compress) {
    korvel::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) throw std::runtime_error("cannot open " + korvel::wide_to_utf8(path.native()));
    korvel::Sha256 hash(compress);
    std::vector<std::uint8_t> buffer(1 << 20);
    DWORD got = 0;
    while (::ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) && got > 0)
        hash.update(buffer.data(), got);
    return korvel::to_hex(hash.finalize());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_sha256 FILE [--portable|--bmi2]\n");
        return 2;
    }
    std::filesystem::path const path(argv[1]);
    std::wstring const mode = argc > 2 ? argv[2] : L"";
    korvel::Sha256Compress compress = nullptr;
    if (mode == L"--portable") compress = &korvel::sha256_detail::compress_portable;
    if (mode == L"--bmi2") {
        compress = korvel::sha256_detail::compress_bmi2();
        if (!compress) {
            std::fprintf(stderr, "bench_sha256: this CPU has no BMI2\n");
            return 1;
        }
    }
    try {
        auto const start = std::chrono::steady_clock::now();
        std::string const digest = compress ? hash_with(path, compress) : korvel::sha256_file(path);
        double const seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        double const bytes = static_cast<double>(std::filesystem::file_size(path));

        PROCESS_MEMORY_COUNTERS counters{};
        counters.cb = sizeof counters;
        ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
        std::printf("%s %.3f s %.1f MB/s peak_working_set=%.1f MiB accelerated=%s\n", digest.c_str(), seconds,
                    bytes / seconds / 1e6, counters.PeakWorkingSetSize / 1048576.0,
                    (!compress && korvel::sha256_detail::compress_accelerated()) ? "yes" : "no");
    } catch (std::exception const& e) {
        std::fprintf(stderr, "bench_sha256: %s\n", e.what());
        return 1;
    }
    return 0;
}
