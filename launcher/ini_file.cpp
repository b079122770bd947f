#include "launcher/ini_file.h"

#include "core/parse_int.h"
#include "core/read_file.h"
#include "platform/text.h"
#include "platform/write_whole_file.h"

#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <exception>
#include <iterator>

namespace fs = std::filesystem;

namespace korvel {

namespace {

std::wstring trim(std::wstring_view text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && std::iswspace(text[begin])) ++begin;
    while (end > begin && std::iswspace(text[end - 1])) --end;
    return std::wstring(text.substr(begin, end - begin));
}

std::wstring lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

std::wstring name_of(std::wstring_view text) {
    return lower(trim(text));
}

}  // namespace

std::wstring decode_settings_text(std::string bytes) {
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
    return utf8_or_bytes_to_wide(bytes);
}

bool IniFile::load(fs::path const& path) {
    sections_.clear();
    std::optional<std::string> bytes = read_whole_file(path);
    if (!bytes) return false;
    std::wstring const text = decode_settings_text(std::move(*bytes));

    std::wstring section;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring_view raw(text.data() + start, end - start);
        if (!raw.empty() && raw.back() == L'\r') raw.remove_suffix(1);
        start = end + 1;

        std::wstring const line = trim(raw);
        if (line.empty() || line[0] == L'#' || line[0] == L';') continue;
        if (line.front() == L'[' && line.back() == L']' && line.size() >= 2) {
            section = name_of(std::wstring_view(line).substr(1, line.size() - 2));
            continue;
        }
        size_t const eq = line.find(L'=');
        if (eq == std::wstring::npos) continue;
        sections_[section][name_of(std::wstring_view(line).substr(0, eq))] = trim(std::wstring_view(line).substr(eq + 1));
    }
    return true;
}

std::wstring IniFile::get(std::wstring const& section, std::wstring const& key, std::wstring const& fallback) const {
    auto const s = sections_.find(name_of(section));
    if (s == sections_.end()) return fallback;
    auto const k = s->second.find(name_of(key));
    if (k == s->second.end()) return fallback;
    return k->second;
}

int IniFile::get_int(std::wstring const& section, std::wstring const& key, int fallback) const {
    return parse_int(get(section, key, L"")).value_or(fallback);
}

void IniFile::set(std::wstring const& section, std::wstring const& key, std::wstring const& value) {
    sections_[name_of(section)][name_of(key)] = value;
}

bool IniFile::save(fs::path const& path) const {
    try {
        std::string bytes;
        for (auto const& [section, keys] : sections_) {
            bytes += '[';
            bytes += wide_to_utf8(section);
            bytes += "]\r\n";
            for (auto const& [key, value] : keys) {
                bytes += wide_to_utf8(key);
                bytes += '=';
                bytes += wide_to_utf8(value);
                bytes += "\r\n";
            }
            bytes += "\r\n";
        }
        return write_file_replacing(path, bytes);
    } catch (std::exception const&) {
        return false;  // the old file is untouched
    }
}

}  // namespace korvel
