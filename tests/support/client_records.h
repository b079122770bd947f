#pragma once
// Reading what the fake game client (tests/launcher/fake_client) recorded about its starts.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace korvel::test {

struct ClientRecord {
    std::wstring command_line;
    std::wstring folder;
    std::uint64_t started = 0;  // FILETIME, 100 ns units
};

// The complete records in `exe_folder`/starts, oldest start first.
std::vector<ClientRecord> client_records(std::filesystem::path const& exe_folder);

// Polls until at least `count` records exist, up to `timeout_ms`; returns what is there.
std::vector<ClientRecord> wait_for_client_records(std::filesystem::path const& exe_folder, std::size_t count,
                                                  unsigned timeout_ms);

// The fake client program of this build.
std::filesystem::path fake_client_exe();

// Now, on the clock the fake client records with.
std::uint64_t filetime_now();

}  // namespace korvel::test
