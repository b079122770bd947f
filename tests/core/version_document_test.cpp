#include "core/version_document.h"

#include "tests/support/error_text.h"

#include <gtest/gtest.h>

#include <string>

using korvel::read_version_document;
using korvel::test::error_text;

TEST(VersionDocument, ClientVersionWinsOverVersion) {
    auto const doc = read_version_document(
        R"({"version": "old", "client_version": "1.4.2", "manifest_url": "files/manifest.json", "extra": [1, 2]})");
    EXPECT_EQ(doc.client_version, "1.4.2");
    EXPECT_EQ(doc.manifest_url, "files/manifest.json");  // relative URLs are kept, not resolved
    EXPECT_FALSE(doc.launcher_offered);

    EXPECT_EQ(read_version_document(R"({"version": "0.9", "manifest_url": "https://h/m.json"})").client_version, "0.9");
}

TEST(VersionDocument, ErrorTexts) {
    struct Case {
        char const* body;
        char const* error;
    } const cases[] = {
        // The top level must be an object.
        {"[]", "[json.exception.type_error.304] cannot use at() with array"},
        {R"("text")", "[json.exception.type_error.304] cannot use at() with string"},
        {"null", "[json.exception.type_error.304] cannot use at() with null"},
        {"12", "[json.exception.type_error.304] cannot use at() with number"},
        // Missing keys; "version" is named when neither version key is there.
        {R"({"manifest_url": "u"})", "[json.exception.out_of_range.403] key 'version' not found"},
        {R"({"client_version": "1"})", "[json.exception.out_of_range.403] key 'manifest_url' not found"},
        // Wrong types, including a present "client_version" beside a good "version".
        {R"({"client_version": 1, "manifest_url": "u"})",
         "[json.exception.type_error.302] type must be string, but is number"},
        {R"({"client_version": null, "version": "1", "manifest_url": "u"})",
         "[json.exception.type_error.302] type must be string, but is null"},
        {R"({"version": "1", "manifest_url": true})",
         "[json.exception.type_error.302] type must be string, but is boolean"},
        {R"({"version": "1", "manifest_url": "u", "launcher": {"size": "12"}})",
         "[json.exception.type_error.302] type must be number, but is string"},
        {R"({"version": "1", "manifest_url": "u", "launcher": {"sha256": ["ab"]}})",
         "[json.exception.type_error.302] type must be string, but is array"},
        {R"({"version": "1", "manifest_url": "u", "launcher": {"url": {}}})",
         "[json.exception.type_error.302] type must be string, but is object"},
        // The present key wins even when empty; emptiness is checked last.
        {R"({"client_version": "", "version": "1", "manifest_url": "u"})", "A version.json hiányos."},
        {R"({"version": "1", "manifest_url": ""})", "A version.json hiányos."},
        {R"({"client_version": "", "manifest_url": 5})", "[json.exception.type_error.302] type must be string, but is number"},
        {R"({"client_version": "", "manifest_url": "", "launcher": {"version": false}})",
         "[json.exception.type_error.302] type must be string, but is boolean"},
        // Strict syntax: no trailing commas, comments or second values.
        {R"({"version": "1",})",
         "[json.exception.parse_error.101] parse error at line 1, column 17: syntax error while parsing object key - "
         "unexpected '}'; expected string literal"},
        {"/* c */ {}",
         "[json.exception.parse_error.101] parse error at line 1, column 1: syntax error while parsing value - invalid "
         "literal; last read: '/'"},
        {"{} {}",
         "[json.exception.parse_error.101] parse error at line 1, column 4: syntax error while parsing value - "
         "unexpected '{'; expected end of input"},
    };
    for (auto const& c : cases) EXPECT_EQ(error_text([&] { read_version_document(c.body); }), c.error) << c.body;

    // The library's own sentence for an empty body (3.11.2 worded it differently).
    EXPECT_EQ(error_text([] { read_version_document(""); }),
              "[json.exception.parse_error.101] parse error at line 1, column 1: attempting to parse an empty input; "
              "check that your input string or stream contains the expected JSON");
    // A body of white space only is no document either.
    EXPECT_TRUE(error_text([] { read_version_document("  \n"); }).starts_with("[json.exception.parse_error.101] "));
    // 64 levels of arrays and objects are read; one more (a copy recurses once per level) is not.
    std::string const head = R"({"version": "1", "manifest_url": "u", "x": )";
    EXPECT_EQ(error_text([&] { read_version_document(head + std::string(63, '[') + std::string(63, ']') + "}"); }),
              "(no exception)");
    EXPECT_EQ(error_text([&] { read_version_document(head + std::string(64, '[') + std::string(64, ']') + "}"); }),
              "[json.exception.parse_error.101] parse error: document nested deeper than 64 levels");
}

TEST(VersionDocument, LauncherOffer) {
    std::string const head = R"({"version": "7", "manifest_url": "u", "launcher": )";
    // Anything but an object is ignored without error.
    for (char const* ignored : {R"("https://h/davari.exe")", R"([{"version": "3"}])", "null", "1"}) {
        auto const doc = read_version_document(head + ignored + "}");
        EXPECT_FALSE(doc.launcher_offered) << ignored;
        EXPECT_EQ(doc.launcher.url, "") << ignored;
    }

    // Offered only with version, URL and hash all non-empty; the size does not count.
    auto doc = read_version_document(head + R"({"version": "2.2", "url": "https://h/d.exe", "sha256": ""}})");
    EXPECT_FALSE(doc.launcher_offered);
    EXPECT_EQ(doc.launcher.version, "2.2");
    EXPECT_EQ(doc.launcher.url, "https://h/d.exe");
    EXPECT_FALSE(read_version_document(head + R"({"url": "https://h/d.exe", "sha256": "ab"}})").launcher_offered);
    EXPECT_FALSE(read_version_document(head + R"({"version": "2", "sha256": "ab", "size": 5}})").launcher_offered);

    doc = read_version_document(head + R"({"version": "2.2", "url": "https://h/d.exe", "sha256": "ABcd\u00c9F"}})");
    EXPECT_TRUE(doc.launcher_offered);
    EXPECT_EQ(doc.launcher.size, 0u);
    EXPECT_EQ(doc.launcher.sha256, "abcd\xC3\x89" "f");  // only ASCII letters are folded

    doc = read_version_document(head + R"({"version": "2", "url": "u", "sha256": "a", "size": 123456789012.9}})");
    EXPECT_EQ(doc.launcher.size, 123456789012u);
}

// What the publisher writes, the launcher reads back as it was given.
TEST(VersionDocument, WrittenDocumentReadsBackUnchanged) {
    korvel::VersionDocument const offered{"1.4.2", "https://h/r/1.4.2/manifest.json",
                                          {"2.0", "https://h/l/davari.exe", std::string(64, 'c'), 4096}, true,
                                          {"https://m/r/1.4.2/manifest.json"}};
    std::string const text = korvel::version_document_text(korvel::version_document_json(offered));
    EXPECT_TRUE(text.ends_with("}\n"));
    korvel::VersionDocument const read = read_version_document(text);
    EXPECT_EQ(read.client_version, offered.client_version);
    EXPECT_EQ(read.manifest_url, offered.manifest_url);
    EXPECT_TRUE(read.launcher_offered);
    EXPECT_EQ(read.launcher.sha256, offered.launcher.sha256);
    EXPECT_EQ(read.launcher.size, 4096u);
    EXPECT_EQ(read.manifest_mirrors, offered.manifest_mirrors);
    EXPECT_TRUE(read_version_document(R"({"version": "1", "manifest_url": "u", "manifest_mirrors": ["ftp://x", 1]})")
                    .manifest_mirrors.empty());

    korvel::VersionDocument without = offered;
    without.launcher_offered = false;
    without.manifest_mirrors.clear();
    EXPECT_FALSE(korvel::version_document_json(without).contains("launcher"));
    EXPECT_FALSE(korvel::version_document_json(without).contains("manifest_mirrors"));
}
