#include "core/launcher_keys.h"

#include "core/pe_resource.h"
#include "core/release_keys.h"
#include "core/release_keys_resource.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <stdexcept>

namespace korvel {

namespace {

constexpr std::uint16_t rcdata_type = 10;  // RT_RCDATA
constexpr std::string_view header = "korvel-release-keys 1";

}  // namespace

LauncherKeys read_launcher_keys(std::string_view image) {
    std::optional<std::string_view> const record =
        find_pe_resource(image, rcdata_type, KORVEL_RELEASE_KEYS_RESOURCE);
    if (!record)
        throw std::runtime_error("no release-key record (a launcher built before it had one, or another program)");
    LauncherKeys keys;
    std::size_t line_number = 0;
    for (std::size_t start = 0; start < record->size(); ++line_number) {
        std::size_t const end = std::min(record->find('\n', start), record->size());
        std::string_view const line = record->substr(start, end - start);
        start = end + 1;
        if (line_number == 0) {
            if (line != header)
                throw std::runtime_error("the release-key record does not start with \"" + std::string(header) + "\"");
            continue;
        }
        std::size_t const space = line.find(' ');
        std::string_view const kind = line.substr(0, space);
        std::string_view const key = space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
        if ((kind != "key" && kind != "throwaway-key") || !looks_like_release_key(key))
            throw std::runtime_error("line " + std::to_string(line_number + 1) +
                                     " of the release-key record is not a key");
        keys.keys.push_back({std::string(key), kind == "throwaway-key"});
    }
    if (line_number == 0) throw std::runtime_error("the release-key record is empty");
    return keys;
}

}  // namespace korvel
