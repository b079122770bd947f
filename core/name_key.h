#pragma once
// The upper-casing under which Windows compares file names: one fixed table whatever the
// language (no Turkish dotted I), one UTF-16 unit for one, so a name keeps its length.
// The same table on every system, so that the launcher and the publisher agree on which
// names are the same file.

#include <string>
#include <string_view>

namespace korvel {

// The unit's simple upper case when it has one within the Basic Multilingual Plane
// (surrogates and units without one stay as they are).
char16_t upper_case_unit(char16_t unit);

// Every unit through upper_case_unit.
std::u16string upper_case_key(std::u16string_view name);

}  // namespace korvel
