#include "gamecfg/config_state.h"

#include "core/ascii.h"
#include "core/read_file.h"

#include "platform/write_whole_file.h"

#include <windows.h>

#include <set>
#include <system_error>

namespace korvel {

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
    return text;
}

void parse_line(std::string_view line, ConfigDialogState& state) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    auto const separator = line.find_first_of("\t =");
    if (separator == std::string_view::npos) return;
    std::string const key = ascii_upper(trim(line.substr(0, separator)));
    if (key.empty()) return;
    state.set_value(key, std::string(trim(line.substr(separator + 1))));
}

// The temporary file of the save is ours whatever stands there: one left by a save that
// was cut short (or copied along, read-only, from a CD or an archive) would otherwise
// make every later save fail. A folder of that name is not a leftover and stays.
void discard_leftover_temporary(std::filesystem::path const& config_path) {
    std::filesystem::path temporary = config_path;
    temporary += L".tmp";
    DWORD const attributes = ::GetFileAttributesW(temporary.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        ::SetFileAttributesW(temporary.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    ::DeleteFileW(temporary.c_str());  // a file that stays makes the write fail, as before
}

}  // namespace

void ConfigDialogState::set_value(std::string const& key, std::string value) {
    auto const [place, added] = values.insert_or_assign(key, std::move(value));
    if (added) key_order.push_back(place->first);
}

void parse_config_text(std::string_view bytes, ConfigDialogState& state) {
    while (!bytes.empty()) {
        auto const end = bytes.find('\n');
        parse_line(bytes.substr(0, end), state);
        if (end == std::string_view::npos) break;
        bytes.remove_prefix(end + 1);
    }
}

std::string format_config_text(ConfigDialogState const& state) {
    std::string text;
    std::set<std::string_view> written;
    auto const write = [&](std::string const& key, std::string const& value) {
        if (!written.insert(key).second) return;
        text += key;
        text += '\t';
        text += value;
        text += "\r\n";
    };
    for (auto const& key : state.key_order) {
        if (auto const found = state.values.find(key); found != state.values.end()) write(found->first, found->second);
    }
    for (auto const& [key, value] : state.values) write(key, value);
    return text;
}

void read_config_file(ConfigDialogState& state) {
    if (std::optional<std::string> const bytes = read_whole_file(state.config_path)) parse_config_text(*bytes, state);
}

bool save_config_file(ConfigDialogState const& state) noexcept {
    try {
        auto const folder = state.config_path.parent_path();
        if (!folder.empty()) {
            std::error_code error;
            std::filesystem::create_directories(folder, error);
            if (error) return false;
        }
        // A replace would go straight over a read-only file under some systems; the
        // player made it read-only to keep it as it is, so it is a failure everywhere.
        DWORD const attributes = ::GetFileAttributesW(state.config_path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return false;
        discard_leftover_temporary(state.config_path);
        return write_file_replacing(state.config_path, format_config_text(state));
    } catch (...) {
        // The replace failed (a read-only or locked file): its temporary copy is gone and
        // the old file is as it was.
        return false;
    }
}

}  // namespace korvel
