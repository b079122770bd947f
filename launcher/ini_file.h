#pragma once
// The INI document of launcher.ini and launcher_settings.ini: sections of key=value lines,
// names case-insensitive (stored lower-cased), values kept as written. Reading never
// fails on content: a file that is not UTF-8 is read byte by byte. Not thread-safe.

#include <filesystem>
#include <map>
#include <string>

namespace korvel {

class IniFile {
public:
    // Ordered by UTF-16 code units, which is also the order save() writes.
    using Section = std::map<std::wstring, std::wstring>;
    using Sections = std::map<std::wstring, Section>;

    // Empties the document and reads `path`. False when the file cannot be opened (the
    // document stays empty).
    bool load(std::filesystem::path const& path);

    // The stored value, even an empty one, or `fallback` when section or key is absent.
    std::wstring get(std::wstring const& section, std::wstring const& key, std::wstring const& fallback) const;

    // The leading decimal integer of the value ("250ms" gives 250); `fallback` when the
    // key is absent, the value holds no number or the number does not fit an int.
    int get_int(std::wstring const& section, std::wstring const& key, int fallback) const;

    void set(std::wstring const& section, std::wstring const& key, std::wstring const& value);

    // Writes the document as UTF-8 with CRLF line ends, sections and keys in map order.
    // The bytes go to a temporary file beside `path` that then replaces it in one step, so
    // an interrupted save never leaves a half-written file. Failure is not reported to
    // the user (the caller keeps going); the result only tells whether the file was written.
    bool save(std::filesystem::path const& path) const;

    Sections const& sections() const { return sections_; }

private:
    Sections sections_;
};

// Decodes the raw bytes of a settings file: a UTF-8 byte order mark is dropped; valid
// UTF-8 is decoded; anything else becomes one code unit per byte, sign-extended
// (0xE1 -> 0xFFE1), so plain ASCII survives whatever code page the file was saved in.
std::wstring decode_settings_text(std::string bytes);

}  // namespace korvel
