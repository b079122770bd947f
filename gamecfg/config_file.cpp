#include "gamecfg/config_state.h"

#include "core/ascii.h"
#include "core/read_file.h"

#include "platform/write_whole_file.h"

#include <windows.h>

#include <map>
#include <optional>
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

struct Pair {
    std::string key;
    std::size_t value_at = 0, value_size = 0;  // where the trimmed value lies in the line
};

std::optional<Pair> pair_in(std::string_view line) {
    auto const separator = line.find_first_of("\t =");
    if (separator == std::string_view::npos) return std::nullopt;
    std::string key = ascii_upper(trim(line.substr(0, separator)));
    if (key.empty()) return std::nullopt;
    std::string_view const rest = line.substr(separator + 1);
    std::string_view const value = trim(rest);
    std::size_t const value_at = separator + 1 + (value.empty() ? rest.size() : value.data() - rest.data());
    return Pair{std::move(key), value_at, value.size()};
}

std::string_view value_of(std::string_view line, Pair const& pair) {
    return line.substr(pair.value_at, pair.value_size);
}

// The file's bytes as read: its lines keep them all.
std::string bytes_read(ConfigText const& file) {
    std::string bytes(config_preamble(file.encoding));
    for (ConfigLine const& line : file.lines) bytes += line.raw;
    return bytes;
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

void read_config_text(std::string_view bytes, ConfigDialogState& state) {
    state.file = split_config_text(bytes);
    for (ConfigLine const& line : state.file.lines)
        if (auto const pair = pair_in(line.text)) state.set_value(pair->key, std::string(value_of(line.text, *pair)));
}

std::string format_config_text(ConfigDialogState const& state) {
    ConfigText const& file = state.file;
    std::map<std::string, std::string_view> as_read;  // the last value, as the state took it
    for (ConfigLine const& line : file.lines)
        if (auto const pair = pair_in(line.text)) as_read[pair->key] = value_of(line.text, *pair);

    std::string text(config_preamble(file.encoding));
    for (ConfigLine const& line : file.lines) {
        auto const pair = pair_in(line.text);
        auto const now = pair ? state.values.find(pair->key) : state.values.end();
        if (now == state.values.end() || now->second == as_read[pair->key]) {
            text += line.raw;
            continue;
        }
        std::string changed = line.text;
        changed.replace(pair->value_at, pair->value_size, now->second);
        text += make_config_line(file.encoding, std::move(changed), line.ending).raw;
    }

    std::string ending = "\r\n";
    for (ConfigLine const& line : file.lines)
        if (!line.ending.empty()) {
            ending = line.ending;
            break;
        }
    bool ended = file.lines.empty() || !file.lines.back().ending.empty();
    for (std::string const& key : state.key_order) {
        auto const value = state.values.find(key);
        if (value == state.values.end() || as_read.count(key)) continue;
        if (!ended) text += encode_config_text(file.encoding, ending);  // the new line starts on a line of its own
        ended = true;
        text += make_config_line(file.encoding, key + '\t' + value->second, ending).raw;
    }
    return text;
}

void read_config_file(ConfigDialogState& state) {
    if (std::optional<std::string> const bytes = read_whole_file(state.config_path)) read_config_text(*bytes, state);
}

bool config_file_changed(ConfigDialogState const& state) {
    return read_whole_file(state.config_path).value_or(std::string()) != bytes_read(state.file);
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
