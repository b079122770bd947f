// The list of release public keys a launcher trusts, as its build and the tools write it.
#include "core/release_keys.h"

#include <gtest/gtest.h>

namespace {

std::string const key_a = "B" + std::string(86, 'a') + "=";
std::string const key_b = "B" + std::string(85, '9') + "/=";

TEST(ReleaseKeys, ListsSplitOnCommasAndSemicolonsAndOnlyKeysLookLikeKeys) {
    struct Case {
        std::string text;
        std::vector<std::string> keys;
    } const cases[] = {
        {"", {}},
        {key_a, {key_a}},
        {key_a + "," + key_b, {key_a, key_b}},
        {" " + key_a + " ;\t" + key_b + " ,", {key_a, key_b}},
        {",,;", {}},
    };
    for (auto const& c : cases) EXPECT_EQ(korvel::split_release_keys(c.text), c.keys) << c.text;

    EXPECT_TRUE(korvel::looks_like_release_key(key_a));
    EXPECT_TRUE(korvel::looks_like_release_key(key_b));
    for (std::string const& bad : {std::string("BAAAA="), "A" + key_a.substr(1), key_a.substr(0, 87) + "A",
                                   key_a.substr(0, 86) + "==", key_a.substr(0, 40) + "-" + key_a.substr(41)})
        EXPECT_FALSE(korvel::looks_like_release_key(bad)) << bad;
}

}  // namespace
