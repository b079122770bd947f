#pragma once
// The launcher's only command-line option: "--launch-clients N".

#include <optional>
#include <string>
#include <vector>

namespace korvel {

// `arguments` as CommandLineToArgvW splits them, program path first. The client count of
// the first "--launch-clients" (exact, case-sensitive) that has an argument after it:
// read as a decimal int and clamped to 1..3, or 1 when it is not a number or does not fit
// an int. No value (normal mode) when there is no such option; an option as the very
// last argument does not count.
std::optional<int> launch_clients_count(std::vector<std::wstring> const& arguments);

// The same for this process's own command line; normal mode when it cannot be split.
std::optional<int> launch_clients_count_of_process();

}  // namespace korvel
