#pragma once
// What a test needs of the environment that tools/test-env brings up: its folder,
// scratch folders that clean up after themselves, and small file utilities.

#include "core/sha256.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace korvel::test {

// The test environment folder (KORVEL_TEST_ENV, a Unix path) as a Windows path.
std::filesystem::path test_env_dir();

// The build folder the tests belong to (the test environment folder lies in it): its
// programs in bin/, the launchers with test keys and those keys in test-keys/.
std::filesystem::path build_dir();

// A Unix path as Wine sees it (drive Z: maps the Unix root).
std::filesystem::path from_unix_path(std::string_view unix_path);

// The folder of the running test executable (the build's bin folder).
std::filesystem::path bin_dir();

// `name` + "-" + process id + "-" + a counter + "-" + milliseconds: a name no other
// call, in this process or another test program, gives.
std::string unique_name(std::string_view name);

// A fresh, empty folder, removed with everything in it when the object goes away.
class TempDir {
public:
    // `name` becomes part of the folder name, to tell runs apart when one is left over.
    explicit TempDir(std::string_view name = "t");
    ~TempDir();
    TempDir(TempDir const&) = delete;
    TempDir& operator=(TempDir const&) = delete;

    std::filesystem::path const& path() const { return path_; }
    std::filesystem::path operator/(std::filesystem::path const& relative) const { return path_ / relative; }

private:
    std::filesystem::path path_;
};

// A path inside a TempDir as the test prefix's second drive letter reaches it (S:, which
// tools/test-env links to the folder of the TempDirs): the same folder, another path.
std::filesystem::path on_second_drive(std::filesystem::path const& temp_path);

void write_file(std::filesystem::path const& path, std::string_view bytes);
std::string read_file(std::filesystem::path const& path);

// SHA-256 of `bytes` as 64 lower-case hexadecimal characters, as manifests carry it.
using korvel::sha256_hex;

// Deterministic pseudo-random bytes, for test data that must differ from run to run
// of a test only when the seed does.
std::string random_bytes(std::size_t size, std::uint64_t seed);

}  // namespace korvel::test
