#include "gamecfg/config_text.h"

#include "platform/text.h"

#include <stdexcept>

namespace korvel {

namespace {

constexpr std::string_view k_utf8_bom = "\xEF\xBB\xBF";
constexpr std::string_view k_utf16_le_bom = "\xFF\xFE";
constexpr std::string_view k_utf16_be_bom = "\xFE\xFF";

bool is_utf16(ConfigEncoding encoding) {
    return encoding == ConfigEncoding::utf16_le || encoding == ConfigEncoding::utf16_be;
}

// The code unit at byte `at`, in the file's byte order.
wchar_t unit_at(std::string_view bytes, std::size_t at, bool big_endian) {
    auto const byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[at + i]); };
    return static_cast<wchar_t>(big_endian ? (byte(0) << 8) | byte(1) : byte(0) | (byte(1) << 8));
}

std::vector<ConfigLine> split_bytes(std::string_view bytes) {
    std::vector<ConfigLine> lines;
    while (!bytes.empty()) {
        std::size_t const feed = bytes.find('\n');
        std::size_t const size = feed == std::string_view::npos ? bytes.size() : feed + 1;
        ConfigLine line{std::string(bytes.substr(0, size)), {}, {}};
        std::string_view text = bytes.substr(0, feed == std::string_view::npos ? size : feed);
        if (feed != std::string_view::npos) {
            bool const crlf = !text.empty() && text.back() == '\r';
            if (crlf) text.remove_suffix(1);
            line.ending = crlf ? "\r\n" : "\n";
        }
        line.text = text;
        lines.push_back(std::move(line));
        bytes.remove_prefix(size);
    }
    return lines;
}

std::vector<ConfigLine> split_utf16(std::string_view bytes, bool big_endian) {
    std::vector<ConfigLine> lines;
    while (!bytes.empty()) {
        std::wstring units;
        std::size_t at = 0;
        bool fed = false;
        for (; at + 1 < bytes.size() && !fed; at += 2) {
            units += unit_at(bytes, at, big_endian);
            fed = units.back() == L'\n';
        }
        if (!fed) at = bytes.size();  // an odd last byte stays with its line
        ConfigLine line{std::string(bytes.substr(0, at)), {}, {}};
        if (fed) {
            units.pop_back();
            bool const crlf = !units.empty() && units.back() == L'\r';
            if (crlf) units.pop_back();
            line.ending = crlf ? "\r\n" : "\n";
        }
        try {
            line.text = wide_to_utf8(units);
        } catch (std::runtime_error const&) {
            line.text.clear();  // not text: kept as its bytes, never read as a pair
        }
        lines.push_back(std::move(line));
        bytes.remove_prefix(at);
    }
    return lines;
}

}  // namespace

std::string_view config_preamble(ConfigEncoding encoding) {
    switch (encoding) {
        case ConfigEncoding::utf8_bom: return k_utf8_bom;
        case ConfigEncoding::utf16_le: return k_utf16_le_bom;
        case ConfigEncoding::utf16_be: return k_utf16_be_bom;
        case ConfigEncoding::bytes: break;
    }
    return {};
}

ConfigText split_config_text(std::string_view bytes) {
    ConfigText text;
    for (ConfigEncoding const encoding :
         {ConfigEncoding::utf8_bom, ConfigEncoding::utf16_le, ConfigEncoding::utf16_be})
        if (bytes.substr(0, config_preamble(encoding).size()) == config_preamble(encoding)) {
            text.encoding = encoding;
            bytes.remove_prefix(config_preamble(encoding).size());
            break;
        }
    text.lines = is_utf16(text.encoding) ? split_utf16(bytes, text.encoding == ConfigEncoding::utf16_be)
                                         : split_bytes(bytes);
    return text;
}

std::string encode_config_text(ConfigEncoding encoding, std::string_view text) {
    if (!is_utf16(encoding)) return std::string(text);
    std::string bytes;
    for (wchar_t const unit : utf8_to_wide(text)) {
        char const low = static_cast<char>(unit & 0xFF), high = static_cast<char>((unit >> 8) & 0xFF);
        bytes += encoding == ConfigEncoding::utf16_be ? high : low;
        bytes += encoding == ConfigEncoding::utf16_be ? low : high;
    }
    return bytes;
}

ConfigLine make_config_line(ConfigEncoding encoding, std::string text, std::string ending) {
    std::string raw = encode_config_text(encoding, text + ending);
    return {std::move(raw), std::move(text), std::move(ending)};
}

}  // namespace korvel
