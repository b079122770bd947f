#include "tests/support/test_env.h"

#include "core/read_file.h"

#ifdef _WIN32
#include "platform/files.h"

#include <windows.h>
#else
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

namespace korvel::test {

fs::path from_unix_path(std::string_view unix_path) {
#ifdef _WIN32
    std::wstring wide = L"Z:";
    for (char c : unix_path) wide.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c)));
    return fs::path(wide);
#else
    return fs::path(std::string(unix_path));
#endif
}

fs::path test_env_dir() {
    char const* env = std::getenv("KORVEL_TEST_ENV");
    if (!env || !*env) throw std::runtime_error("KORVEL_TEST_ENV is not set: run the tests through ctest");
    return from_unix_path(env);
}

fs::path build_dir() {
    return test_env_dir().parent_path();
}

fs::path bin_dir() {
#ifdef _WIN32
    return exe_path().parent_path();
#else
    return fs::read_symlink("/proc/self/exe").parent_path();
#endif
}

std::string unique_name(std::string_view name) {
    static std::atomic<unsigned> counter{0};
#ifdef _WIN32
    auto const pid = ::GetCurrentProcessId();
#else
    auto const pid = ::getpid();
#endif
    auto const ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch()).count();
    std::ostringstream id;
    id << name << '-' << pid << '-' << counter++ << '-' << ms;
    return id.str();
}

TempDir::TempDir(std::string_view name) {
    fs::path base;
    try {
        base = test_env_dir() / "tmp";
    } catch (std::exception const&) {
        base = fs::temp_directory_path() / "korvel-tests";
    }
    path_ = base / unique_name(name);
    fs::remove_all(path_);
    fs::create_directories(path_);
}

fs::path on_second_drive(fs::path const& temp_path) {
    return fs::path(L"S:\\") / temp_path.lexically_relative(test_env_dir() / "tmp");
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

void write_file(fs::path const& path, std::string_view bytes) {
    if (path.has_parent_path()) fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("test: cannot write " + path.string());
}

std::string read_file(fs::path const& path) {
    std::optional<std::string> bytes = read_whole_file(path);
    if (!bytes) throw std::runtime_error("test: cannot read " + path.string());
    return std::move(*bytes);
}

std::string random_bytes(std::size_t size, std::uint64_t seed) {
    std::mt19937_64 generator(seed);
    std::string bytes(size, '\0');
    std::size_t i = 0;
    while (i < size) {
        std::uint64_t value = generator();
        for (int k = 0; k < 8 && i < size; ++k, ++i) bytes[i] = static_cast<char>(value >> (8 * k));
    }
    return bytes;
}

}  // namespace korvel::test
