#include "window/text_cut.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace korvel {

namespace {

bool is_high_surrogate(wchar_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool is_low_surrogate(wchar_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// A unit that belongs to the character before it: combining marks (the system's
// character types, and the main combining blocks in case its tables are thin),
// variation selectors and the zero-width joiner.
bool extends_previous(wchar_t c) {
    if ((c >= 0x0300 && c <= 0x036F) || (c >= 0x1AB0 && c <= 0x1AFF) || (c >= 0x1DC0 && c <= 0x1DFF) ||
        (c >= 0x20D0 && c <= 0x20FF) || (c >= 0xFE00 && c <= 0xFE0F) || (c >= 0xFE20 && c <= 0xFE2F) || c == 0x200D)
        return true;
    WORD type = 0;
    return ::GetStringTypeW(CT_CTYPE3, &c, 1, &type) && (type & (C3_NONSPACING | C3_VOWELMARK)) != 0;
}

// The emoji skin-tone modifiers U+1F3FB..U+1F3FF, as the surrogate pair D83C DFFB..DFFF.
bool is_skin_tone(std::wstring_view text, std::size_t at) {
    return at + 1 < text.size() && text[at] == 0xD83C && text[at + 1] >= 0xDFFB && text[at + 1] <= 0xDFFF;
}

}  // namespace

bool is_character_boundary(std::wstring_view text, std::size_t at) noexcept {
    if (at == 0 || at >= text.size()) return true;
    wchar_t const before = text[at - 1];
    wchar_t const after = text[at];
    if (is_high_surrogate(before) && is_low_surrogate(after)) return false;
    if (before == 0x200D) return false;  // a joined sequence stays whole
    return !extends_previous(after) && !is_skin_tone(text, at);
}

std::wstring_view cut_at_boundary(std::wstring_view text, std::size_t max_units) noexcept {
    std::size_t at = std::min(max_units, text.size());
    while (!is_character_boundary(text, at)) --at;
    return text.substr(0, at);
}

std::size_t longest_fitting_prefix(std::wstring_view text, std::function<bool(std::wstring_view)> const& fits) {
    std::vector<std::size_t> cuts;  // every boundary after the first character
    for (std::size_t at = 1; at <= text.size(); ++at)
        if (is_character_boundary(text, at)) cuts.push_back(at);
    // cuts[fits_count - 1] fits, cuts[too_long] does not (when in range).
    std::size_t fits_count = 0, too_long = cuts.size();
    while (fits_count < too_long) {
        std::size_t const mid = (fits_count + too_long) / 2;
        if (fits(text.substr(0, cuts[mid]))) fits_count = mid + 1;
        else too_long = mid;
    }
    return fits_count == 0 ? 0 : cuts[fits_count - 1];
}

}  // namespace korvel
