#include "launcher/command_line.h"

#include "core/parse_int.h"
#include "launcher/client_launch.h"
#include "platform/unique_handle.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>

namespace korvel {

namespace {

int parse_count(std::wstring const& text) {
    std::optional<int> const value = parse_int(text);
    return value ? std::clamp(*value, 1, k_max_clients) : 1;
}

}  // namespace

std::optional<int> launch_clients_count(std::vector<std::wstring> const& arguments) {
    for (size_t i = 1; i + 1 < arguments.size(); ++i)
        if (arguments[i] == L"--launch-clients") return parse_count(arguments[i + 1]);
    return std::nullopt;
}

std::optional<int> launch_clients_count_of_process() {
    int count = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!argv) return std::nullopt;
    UniqueLocalMemory owner(reinterpret_cast<HLOCAL>(argv));
    std::vector<std::wstring> const arguments(argv, argv + count);
    owner.reset();
    return launch_clients_count(arguments);
}

}  // namespace korvel
