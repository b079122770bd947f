// Signed releases from the native korvel-publish: keygen, build --sign-key and
// verify --public-key. (That the launcher accepts what it signs is checked by the demo
// run and, with the same canonical form, by the engine's tests under Wine.)
#include "core/release_signature.h"
#include "publisher/publish_command.h"
#include "publisher/release_signing.h"
#include "tests/native/publish_run.h"
#include "tests/support/test_env.h"
#include "tests/support/test_server.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>

#include <sstream>

namespace fs = std::filesystem;
using nlohmann::json;

namespace korvel::test {
namespace {

TEST(PublishSigned, KeygenBuildAndVerify) {
    ServedFolder server("signed");
    TempDir dir("signed");
    fs::path const key = dir / "release.pem", other = dir / "other.pem";
    Outcome const made = publish({"keygen", key});
    ASSERT_EQ(made.code, 0) << made.err;
    std::string const public_key = made.out.substr(0, made.out.size() - 1);
    EXPECT_EQ(made.out.size(), 89u);  // 88 base64 characters of 65 bytes, and the line's end
    struct stat status {};
    ASSERT_EQ(::stat(key.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    std::string const pem = read_file(key);
    EXPECT_EQ(publish({"keygen", key}).code, 1);  // never over an existing key
    EXPECT_EQ(read_file(key), pem);
    std::string const other_key = publish({"keygen", other}).out;

    write_file(dir / "release" / "a.txt", "alpha");
    fs::path const out = server.local("");
    auto build = [&](std::string const& version, std::vector<std::string> extra) {
        std::vector<std::string> args = {"build", dir / "release", out, "--client-version", version, "--base-url",
                                         server.url("")};
        args.insert(args.end(), extra.begin(), extra.end());
        return publish(args);
    };
    ASSERT_EQ(build("1", {}).code, 0);
    EXPECT_FALSE(json::parse(read_file(out / "patch" / "version.json")).contains("sequence"));
    ASSERT_EQ(build("1", {"--sign-key", key}).code, 0);
    ASSERT_EQ(build("2", {"--sign-key", key, "--sequence", "7"}).code, 0);
    std::string const signed_document = read_file(out / "patch" / "version.json");
    json const version = json::parse(signed_document);
    EXPECT_EQ(version.at("sequence"), 7);
    EXPECT_TRUE(verify_release_signature(public_key, release_digest(version), version.at("signature").get<std::string>()));
    // The sequence never goes back, nor stays: refused, and nothing is written.
    for (std::string const sequence : {"7", "3"}) {
        Outcome const refused = build("3", {"--sign-key", key, "--sequence", sequence});
        EXPECT_EQ(refused.code, 1);
        EXPECT_NE(refused.err.find("does not go up: the last published release has 7"), std::string::npos) << refused.err;
    }
    EXPECT_FALSE(fs::exists(out / "releases" / "3"));
    EXPECT_EQ(read_file(out / "patch" / "version.json"), signed_document);

    std::string const version_url = server.url("patch/version.json");
    Outcome const ok = publish({"verify", version_url, "--public-key", public_key});
    EXPECT_EQ(ok.code, 0) << ok.out;
    Outcome const wrong = publish({"verify", version_url, "--public-key", other_key.substr(0, other_key.size() - 1)});
    EXPECT_EQ(wrong.code, 1);
    EXPECT_TRUE(wrong.out.starts_with("FAILED signature: not valid for this public key")) << wrong.out;
    write_file(out / "releases" / "2" / "manifest.json", read_file(out / "releases" / "2" / "manifest.json") + " ");
    Outcome const changed = publish({"verify", version_url, "--public-key", public_key});
    EXPECT_EQ(changed.code, 1);
    EXPECT_TRUE(changed.out.starts_with("FAILED manifest_sha256: ")) << changed.out;

    // A document that would overflow the stack where it is copied: the real tool lives
    // on and reports it as unreadable.
    write_file(out / "patch" / "version.json",
               "{\"x\":" + std::string(30000, '[') + std::string(30000, ']') + "," + signed_document.substr(1));
    std::string const command =
        (bin_dir() / "korvel-publish").string() + " verify " + version_url + " --public-key " + public_key + " 2>&1";
    FILE* const tool = ::popen(command.c_str(), "r");
    ASSERT_TRUE(tool);
    std::string output(4096, '\0');
    output.resize(std::fread(output.data(), 1, output.size(), tool));
    int const exit_status = ::pclose(tool);
    EXPECT_TRUE(WIFEXITED(exit_status) && WEXITSTATUS(exit_status) == 1) << output;  // not killed by a signal
    EXPECT_TRUE(output.starts_with("FAILED version document " + version_url + ": [json.exception.parse_error.101] "
                                   "parse error: document nested deeper than 64 levels\n")) << output;
}

}  // namespace
}  // namespace korvel::test
