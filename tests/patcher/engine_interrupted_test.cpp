// A patch run killed in the middle of a download must leave every game file whole, and
// the next run must finish the job.

#include "tests/patcher/engine_fixture.h"

#include "platform/text.h"
#include "tests/support/process.h"

#include <windows.h>

#include <chrono>
#include <thread>

namespace fs = std::filesystem;
using namespace korvel;
using korvel::test::EngineTest;
using korvel::test::Fault;

namespace {

// Throws when patch_runner.exe cannot be started.
korvel::test::ChildProcess start_runner(PatchConfig const& config) {
    auto const quoted = [](fs::path const& argument) { return korvel::test::quoted(argument); };
    return korvel::test::ChildProcess(
        korvel::test::bin_dir() / "patch_runner.exe",
        quoted(config.game_dir) + L" " + quoted(config.version_file) + L" " + quoted(config.hash_cache_file) + L" " +
            quoted(utf8_to_wide(config.version_url)));
}

}  // namespace

TEST_F(EngineTest, KilledMidDownloadLeavesNoPartialFileAndTheNextRunFinishes) {
    std::string const big = korvel::test::random_bytes(8 << 20, 5);
    publish({{"data/big.pak", {big}}, {"small.txt", {"small"}}});
    put_game_file("data/big.pak", "the old pack");
    Fault slow;
    slow.pace_ms = 40;  // 8 MiB in 64 KiB pieces: about five seconds
    server.set_fault("files/data/big.pak", slow);

    korvel::test::ChildProcess runner = start_runner(config());

    // Wait until the download is under way, then pull the plug.
    fs::path const part = game("data/big.pak.korvel.part");
    auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::error_code ec;
    while (!(fs::exists(part, ec) && fs::file_size(part, ec) > 0 && !ec)) {
        ASSERT_TRUE(runner.running()) << "the run ended before it was killed";
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the download never started";
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    runner.terminate();
    ASSERT_FALSE(runner.running());

    EXPECT_EQ(game_file("data/big.pak"), "the old pack");
    EXPECT_LT(fs::file_size(part), big.size());

    server.clear_fault("files/data/big.pak");
    ASSERT_TRUE(run().ok);
    EXPECT_EQ(game_file("data/big.pak"), big);
    EXPECT_TRUE(server.requests("files/data/big.pak").back().header("Range").has_value());  // resumed, not restarted
    EXPECT_EQ(game_file("small.txt"), "small");
    EXPECT_TRUE(leftovers(L".korvel.part").empty());
    EXPECT_TRUE(leftovers(L".tmp").empty());
}
