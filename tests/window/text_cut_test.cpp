#include "window/text_cut.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Where a text is cut when only `room` UTF-16 units fit: never inside a surrogate pair,
// never between a letter and its combining marks, never inside a joined emoji.
TEST(TextCut, CutsFallWhereACharacterEnds) {
    struct Case {
        std::wstring text;
        std::size_t room;
        std::wstring kept;
    };
    Case const cases[] = {
        {L"abcdef", 4, L"abcd"},
        {L"ab\U0001F600cd", 3, L"ab"},  // the pair would be split
        {L"ab\U0001F600cd", 4, L"ab\U0001F600"},
        {L"Re\u0301sume\u0301", 2, L"R"},  // e + combining acute stay together
        {L"Re\u0301sume\u0301", 3, L"Re\u0301"},
        {L"x\u0915\u093F", 2, L"x"},  // a Devanagari vowel sign
        {L"a\U0001F44D\U0001F3FDb", 3, L"a"},  // thumbs up with its skin tone
        {L"a\U0001F468\u200D\U0001F469b", 4, L"a"},  // two people joined by ZWJ
        {L"a\U0001F468\u200D\U0001F469b", 6, L"a\U0001F468\u200D\U0001F469"},
        {L"\U0001F600", 1, L""},
    };
    for (Case const& c : cases) {
        EXPECT_EQ(std::wstring(korvel::cut_at_boundary(c.text, c.room)), c.kept) << c.room;
        // The ellipsis search agrees when "fits" means "at most `room` units".
        std::size_t const fits =
            korvel::longest_fitting_prefix(c.text, [&](std::wstring_view p) { return p.size() <= c.room; });
        EXPECT_EQ(c.text.substr(0, fits), c.kept) << c.room;
    }
}

}  // namespace
