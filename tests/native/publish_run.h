#pragma once
// Running korvel-publish's commands in the test process and reading what an operator reads,
// and the state of an output folder to show that a refused command wrote nothing.
#include "publisher/publish_command.h"
#include "tests/support/test_env.h"

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace korvel::test {

struct Outcome {
    int code;
    std::string out, err;
};

inline Outcome publish(std::vector<std::string> const& args) {
    std::ostringstream out, err;
    int const code = run_publish_command(std::vector<NativeString>(args.begin(), args.end()), out, err);
    return {code, out.str(), err.str()};
}

// Every file and folder below `root` with its bytes and time: equal before and after
// when nothing was written.
inline std::map<std::string, std::pair<std::string, std::filesystem::file_time_type>> folder_state(
    std::filesystem::path const& root) {
    std::map<std::string, std::pair<std::string, std::filesystem::file_time_type>> state;
    if (!std::filesystem::exists(root)) return state;
    for (auto const& entry : std::filesystem::recursive_directory_iterator(root))
        state[entry.path().generic_string()] = {entry.is_regular_file() ? read_file(entry.path()) : std::string("/"),
                                               entry.last_write_time()};
    return state;
}

}  // namespace korvel::test
