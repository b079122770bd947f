// The release-key record of a launcher, as the build writes it into davari.exe, read back
// from made-up images: the forms it takes, and every way it can be wrong.
#include "core/launcher_keys.h"

#include "core/release_keys_resource.h"
#include "tests/support/error_text.h"
#include "tests/support/pe_image.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using korvel::LauncherKeys;
using korvel::read_launcher_keys;
using korvel::test::error_text;

namespace {

// Two keys of the right form (the reader checks the form, not the curve point).
std::string const key_a = "B" + std::string(86, 'A') + "=";
std::string const key_b = "B" + std::string(86, 'z') + "=";

std::string image_with(std::string const& record, std::uint16_t id = KORVEL_RELEASE_KEYS_RESOURCE) {
    return korvel::test::make_pe_image(10, id, record).bytes;
}

// The keys as "key K" / "throwaway-key K" lines, or the refusal.
std::string answer(std::string const& image) {
    std::string lines;
    std::string const error = error_text([&] {
        LauncherKeys const keys = read_launcher_keys(image);
        for (auto const& k : keys.keys) lines += (k.throwaway ? "throwaway-key " : "key ") + k.key + ";";
    });
    return error == "(no exception)" ? lines : "refused: " + error;
}

}  // namespace

TEST(LauncherKeys, RecordsAsTheBuildWritesThemAndBrokenOnes) {
    std::string const header = "korvel-release-keys 1\n";
    struct Case {
        std::string image;
        std::string expected;
    };
    std::vector<Case> const cases = {
        {image_with(header), ""},
        {image_with(header + "key " + key_a + "\n"), "key " + key_a + ";"},
        {image_with(header + "throwaway-key " + key_b + "\nthrowaway-key " + key_a + "\n"),
         "throwaway-key " + key_b + ";throwaway-key " + key_a + ";"},
        {image_with(header + "key " + key_a), "key " + key_a + ";"},
        {image_with(""), "refused: the release-key record is empty"},
        {image_with("korvel-release-keys 2\nkey " + key_a + "\n"),
         "refused: the release-key record does not start with \"korvel-release-keys 1\""},
        {image_with(header + "key " + key_a + "\r\n"), "refused: line 2 of the release-key record is not a key"},
        {image_with(header + "key " + key_a + "\n\n"), "refused: line 3 of the release-key record is not a key"},
        {image_with(header + "trusted " + key_a + "\n"), "refused: line 2 of the release-key record is not a key"},
        {image_with(header + "key " + key_a.substr(1) + "\n"), "refused: line 2 of the release-key record is not a key"},
        {image_with(header + "key\n"), "refused: line 2 of the release-key record is not a key"},
        {image_with(header, KORVEL_RELEASE_KEYS_RESOURCE + 1),
         "refused: no release-key record (a launcher built before it had one, or another program)"},
        {"MZ launcher", "refused: truncated or damaged: the DOS header lies outside the file"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(answer(c.image), c.expected);
    }
}
