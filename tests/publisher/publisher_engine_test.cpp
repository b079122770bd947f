// A tree published by korvel-publish, served by the test patch server, patched by the
// launcher's engine and checked by `verify`, all in the Windows build.
#include "patcher/patcher_engine.h"
#include "platform/text.h"
#include "publisher/publish_command.h"
#include "tests/support/test_env.h"
#include "tests/support/test_server.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace fs = std::filesystem;

namespace korvel::test {
namespace {

using Files = std::map<std::string, std::string>;

fs::path path_of(std::string const& utf8) {
    return fs::path(utf8_to_wide(utf8));
}

// Every file below `root` with its bytes, "/" between folders.
Files tree(fs::path const& root) {
    Files files;
    for (auto const& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            files[wide_to_utf8(entry.path().lexically_relative(root).generic_wstring())] = read_file(entry.path());
    return files;
}

TEST(PublishEndToEnd, ServedReleasesPatchAnEmptyGameFolderAndVerifyNamesAnAlteredFile) {
    ServedFolder server("publish");
    TempDir dir("publish-e2e");
    fs::path const out = server.local("");
    auto publish = [&](Files const& files, std::string const& version, std::string const& previous) {
        fs::remove_all(dir / "release");
        for (auto const& [path, bytes] : files) write_file(dir / "release" / path_of(path), bytes);
        std::vector<std::wstring> args = {L"build", (dir / "release").wstring(), out.wstring(),
                                          L"--client-version", path_of(version).wstring(), L"--base-url",
                                          path_of(server.url("")).wstring()};
        if (!previous.empty())
            args.insert(args.end(), {L"--previous", (out / "releases" / previous / "manifest.json").wstring()});
        std::ostringstream o, e;
        ASSERT_EQ(run_publish_command(args, o, e), 0) << e.str();
    };
    PatchConfig config;
    config.game_dir = dir / "game";
    config.version_file = dir / "state" / "client.version";
    config.hash_cache_file = dir / "state" / "hash_cache.json";
    config.version_url = server.url("patch/version.json");
    config.launcher_version = "2.1.0";

    Files const first = {{"bat.exe", "client 1"}, {"data/pack.bin", random_bytes(2 << 20, 3)}, {"data/old.txt", "o"}};
    publish(first, "1", "");
    fs::create_directories(config.game_dir);
    EXPECT_TRUE(PatcherEngine::run(config, false, {}).ok);
    EXPECT_EQ(tree(config.game_dir), first);

    Files const second = {{"bat.exe", "client 2"}, {"data/pack.bin", random_bytes(2 << 20, 3)}, {"data/new.txt", "n"}};
    publish(second, "2", "1");
    PatchResult const r = PatcherEngine::run(config, false, {});
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.client_version, "2");
    EXPECT_EQ(tree(config.game_dir), second);

    std::vector<std::wstring> const verify = {L"verify", path_of(config.version_url).wstring()};
    std::ostringstream ok_out, ok_err;
    EXPECT_EQ(run_publish_command(verify, ok_out, ok_err), 0) << ok_out.str() << ok_err.str();

    // bat.exe changed in release 2, so its served file is a copy of its own, not a link.
    write_file(out / "releases" / "2" / "files" / "bat.exe", "client X");
    std::ostringstream bad_out, bad_err;
    EXPECT_EQ(run_publish_command(verify, bad_out, bad_err), 1);
    EXPECT_NE(bad_out.str().find("FAILED bat.exe: SHA-256"), std::string::npos) << bad_out.str();
    EXPECT_EQ(bad_out.str().find("FAILED data/"), std::string::npos) << bad_out.str();
}

}  // namespace
}  // namespace korvel::test
