#include "core/parse_int.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <optional>

TEST(ParseU64, DigitsOnlyAndNoOverflow) {
    struct Case {
        char const* text;
        std::optional<std::uint64_t> value;
    };
    for (Case const& c : std::initializer_list<Case>{{"0", 0},
                                                     {"0042", 42},
                                                     {"18446744073709551615", UINT64_MAX},
                                                     {"18446744073709551616", std::nullopt},
                                                     {"99999999999999999999", std::nullopt},
                                                     {"", std::nullopt},
                                                     {"+1", std::nullopt},
                                                     {"-1", std::nullopt},
                                                     {" 1", std::nullopt},
                                                     {"1\n", std::nullopt},
                                                     {"12a", std::nullopt}})
        EXPECT_EQ(korvel::parse_u64(c.text), c.value) << c.text;
}
