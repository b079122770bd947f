#include "core/json_number.h"

#include "tests/support/error_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

using nlohmann::json;

TEST(JsonNumber, UnsignedReadingOfEveryNumberKind) {
    constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    struct Case {
        char const* text;
        std::uint64_t value;
    } const cases[] = {
        {"0", 0},
        {"18446744073709551615", max},
        {"12.99", 12},
        {"0.5", 0},
        {"-0.5", 0},
        {"1e19", 10000000000000000000u},
        // Negative numbers wrap, whether written as integers or as fractions.
        {"-1", max},
        {"-1.5", max},
        {"-9223372036854775808", 9223372036854775808u},
        // Floats out of range, whose plain conversion would be undefined, saturate.
        {"18446744073709551616.0", max},
        {"1e300", max},
        {"-1e300", 9223372036854775808u},
    };
    for (auto const& c : cases) EXPECT_EQ(korvel::json_to_u64(json::parse(c.text)), c.value) << c.text;

    EXPECT_EQ(korvel::test::error_text([] { korvel::json_to_u64(json("5")); }),
              "[json.exception.type_error.302] type must be number, but is string");
    EXPECT_EQ(korvel::test::error_text([] { korvel::json_to_u64(json()); }),
              "[json.exception.type_error.302] type must be number, but is null");
}
