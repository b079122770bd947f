// Documents from the network or from disk, damaged at random: every reading must end
// in a document that keeps the readers' promises or in an ordinary exception.

#include "core/safe_path.h"
#include "patcher/hash_cache.h"
#include "core/manifest.h"
#include "core/protected_path.h"
#include "core/version_document.h"
#include "platform/files.h"
#include "tests/support/test_env.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

using nlohmann::json;
namespace test = korvel::test;

namespace {

std::string const version_seed = R"({"client_version": "1.4.2", "version": "1.4", "manifest_url": "https://h/m.json",
  "launcher": {"version": "2.2.0", "url": "https://h/davari.exe", "sha256": ")" + std::string(64, 'C') + R"(", "size": 4096}})";

std::string const manifest_seed = R"({"base_url": "https://h/files/", "files": [
  {"path": "data/a.bin", "size": 10, "sha256": ")" + std::string(64, 'a') + R"("},
  {"path": "Davari.exe", "size": 1, "sha256": ")" + std::string(64, 'b') + R"("},
  {"path": "UserData/x.cfg", "size": 2.5, "sha256": ")" + std::string(64, 'C') + R"("},
  {"path": "sub/mouse.cfg", "size": 3, "sha256": ")" + std::string(64, 'd') + R"("}],
  "delete": ["old/x.dll", "userdata", "zivur2.cfg"]})";

std::string const cache_seed = R"({"a.bin": {"modified": 1, "sha256": "AB", "size": 2},
  "zivur2.cfg": {"modified": 3, "sha256": "cd", "size": 4}, "b/c.bin": {"size": 5}})";

// Values of every JSON type, including the awkward ones for each reader.
json random_value(std::mt19937_64& rng) {
    static json const values[] = {
        nullptr, true, 0, -1, 1.5, -2.5, 1e300, 18446744073709551615u, "", "x", "../x", "userdata\\x",
        "C:\\x", std::string(64, 'F'), json::array(), json::array({1, "a"}), json::object(),
        json::object({{"path", "p"}, {"size", 1}, {"sha256", std::string(64, '0')}}),
    };
    return values[rng() % std::size(values)];
}

// Replaces one node of the parsed seed (a member value or an array element, at any
// depth) with a value of another kind, or removes it.
std::string swap_a_value(std::string const& seed, std::mt19937_64& rng) {
    json doc = json::parse(seed);
    json* node = &doc;
    while ((node->is_object() || node->is_array()) && !node->empty() && rng() % 3 != 0) {
        auto it = node->begin();
        std::advance(it, static_cast<long>(rng() % node->size()));
        node = &*it;
    }
    if (rng() % 8 == 0) *node = json::object({{"k", random_value(rng)}});
    else *node = random_value(rng);
    return doc.dump(rng() % 2 ? -1 : 2);
}

std::string mutate(std::string const& seed, std::mt19937_64& rng) {
    std::string text = seed;
    switch (rng() % 5) {
        case 0:  // truncation
            text.resize(rng() % (text.size() + 1));
            break;
        case 1:  // a few random bytes
            for (int n = 1 + static_cast<int>(rng() % 4); n > 0; --n) text[rng() % text.size()] = static_cast<char>(rng());
            break;
        case 2:  // a structural character dropped or doubled
        {
            size_t const at = text.find_first_of("{}[]\":,", rng() % text.size());
            if (at == std::string::npos) break;
            if (rng() % 2) text.erase(at, 1);
            else text.insert(at, 1, text[at]);
            break;
        }
        default:  // type swaps, which reach far deeper than damaged syntax does
            text = swap_a_value(seed, rng);
            if (rng() % 4 == 0) text = swap_a_value(text, rng);
            break;
    }
    return text;
}

struct Tally {
    int parsed = 0;
    int rejected = 0;
};

// Runs one reading; a non-standard exception or a crash fails the test.
template <typename Read>
void read_one(std::string const& body, Tally& tally, Read&& read) {
    try {
        read(body);
        ++tally.parsed;
    } catch (std::exception const&) {
        ++tally.rejected;
    } catch (...) {
        ADD_FAILURE() << "non-standard exception for " << testing::PrintToString(body);
    }
}

bool is_lower_hex_free(std::string const& s) {
    for (char c : s)
        if (c >= 'A' && c <= 'Z') return false;
    return true;
}

}  // namespace

TEST(ReaderFuzz, DamagedDocumentsParseOrThrowStandardErrors) {
    auto const started = std::chrono::steady_clock::now();
    std::mt19937_64 rng(20240611);
    constexpr int rounds = 5000;
    Tally versions, manifests;

    for (int i = 0; i < rounds; ++i) {
        read_one(mutate(version_seed, rng), versions, [](std::string const& body) {
            auto const doc = korvel::read_version_document(body);
            EXPECT_FALSE(doc.client_version.empty());
            EXPECT_FALSE(doc.manifest_url.empty());
            EXPECT_TRUE(is_lower_hex_free(doc.launcher.sha256));
            EXPECT_EQ(doc.launcher_offered,
                      !doc.launcher.version.empty() && !doc.launcher.url.empty() && !doc.launcher.sha256.empty());
        });
        read_one(mutate(manifest_seed, rng), manifests, [](std::string const& body) {
            auto const m = korvel::read_manifest(body);
            EXPECT_FALSE(m.base_url.empty());
            for (auto const& f : m.files) {
                EXPECT_TRUE(korvel::is_safe_relative_path(f.path) && !korvel::is_protected_path(f.path)) << f.path;
                EXPECT_EQ(f.sha256.size(), 64u);
                EXPECT_TRUE(is_lower_hex_free(f.sha256));
            }
            for (auto const& d : m.deletes)
                EXPECT_TRUE(korvel::is_safe_relative_path(d) && !korvel::is_protected_path(d)) << d;
        });
    }
    // Both outcomes must be well represented, or the mutations test nothing.
    EXPECT_GT(versions.parsed, rounds / 40);
    EXPECT_GT(versions.rejected, rounds / 40);
    EXPECT_GT(manifests.parsed, rounds / 40);
    EXPECT_GT(manifests.rejected, rounds / 40);

    auto const seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("%d version documents (%d read), %d manifests (%d read) in %.2f s\n", rounds, versions.parsed, rounds,
                manifests.parsed, seconds);
}

TEST(ReaderFuzz, DamagedCachesLoadWithoutThrowing) {
    test::TempDir dir("cachefuzz");
    std::mt19937_64 rng(7);
    int non_empty = 0;
    constexpr int rounds = 600;
    for (int i = 0; i < rounds; ++i) {
        std::string const text = mutate(cache_seed, rng);
        test::write_file(dir / "c.json", text);
        korvel::HashCache cache;
        EXPECT_NO_THROW(cache = korvel::load_hash_cache(dir / "c.json")) << testing::PrintToString(text);
        for (auto const& [key, entry] : cache) {
            EXPECT_FALSE(korvel::is_protected_path(key)) << key;
            EXPECT_TRUE(is_lower_hex_free(entry.sha256));
        }
        if (!cache.empty()) ++non_empty;
        // Whatever was read can be written back.
        if (i % 20 == 0) {
            EXPECT_NO_THROW(korvel::save_hash_cache(dir / "out.json", cache));
        }
    }
    EXPECT_GT(non_empty, rounds / 40);
    EXPECT_LT(non_empty, rounds);
}
