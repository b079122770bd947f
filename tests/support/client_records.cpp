#include "tests/support/client_records.h"

#include "core/read_file.h"
#include "platform/text.h"
#include "tests/support/test_env.h"

#include <windows.h>

#include <algorithm>
#include <optional>
#include <sstream>

namespace fs = std::filesystem;

namespace korvel::test {

std::vector<ClientRecord> client_records(fs::path const& exe_folder) {
    std::vector<ClientRecord> records;
    std::error_code ec;
    for (auto const& entry : fs::directory_iterator(exe_folder / "starts", ec)) {
        if (entry.path().extension() != ".txt") continue;
        // A record the client has only just renamed into place can still refuse to open
        // under Wine for a moment; callers poll, so it is read on a later round.
        std::optional<std::string> const bytes = read_whole_file(entry.path());
        if (!bytes) continue;
        std::istringstream lines(*bytes);
        ClientRecord record;
        std::string line;
        while (std::getline(lines, line)) {
            auto const eq = line.find('=');
            if (eq == std::string::npos) continue;
            std::string const key = line.substr(0, eq);
            std::string const value = line.substr(eq + 1);
            if (key == "command_line") record.command_line = utf8_to_wide(value);
            if (key == "folder") record.folder = utf8_to_wide(value);
            if (key == "started") record.started = std::stoull(value);
        }
        records.push_back(record);
    }
    std::sort(records.begin(), records.end(), [](auto const& a, auto const& b) { return a.started < b.started; });
    return records;
}

std::vector<ClientRecord> wait_for_client_records(fs::path const& exe_folder, std::size_t count, unsigned timeout_ms) {
    ULONGLONG const deadline = ::GetTickCount64() + timeout_ms;
    for (;;) {
        auto records = client_records(exe_folder);
        if (records.size() >= count || ::GetTickCount64() >= deadline) return records;
        ::Sleep(20);
    }
}

fs::path fake_client_exe() {
    return bin_dir() / "fake_client.exe";
}

std::uint64_t filetime_now() {
    FILETIME now{};
    ::GetSystemTimePreciseAsFileTime(&now);
    return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

}  // namespace korvel::test
