#include "tests/patcher/engine_fixture.h"

#include "core/chunk_index.h"
#include "core/manifest.h"
#include "core/version_document.h"
#include "platform/files.h"
#include "platform/text.h"

#include <ctime>
#include <memory>

namespace fs = std::filesystem;

namespace korvel::test {

EngineTest::EngineTest() {
    fs::create_directories(dir / "game");
    fs::create_directories(dir / "launcher");
}

void EngineTest::publish(std::map<std::string, PublishedFile> const& files, std::vector<std::string> const& deletes,
                         std::string const& client_version, std::optional<LauncherUpdate> const& launcher) {
    Manifest manifest{server.url("files/"), {}, deletes, {}};
    VersionDocument version{client_version, server.url("manifest.json"), launcher.value_or(LauncherUpdate{}),
                            launcher.has_value(), {}};
    for (int k = 1; k <= mirrors; ++k) {
        manifest.mirrors.push_back(mirror_url(k, "files/"));
        version.manifest_mirrors.push_back(mirror_url(k, "manifest.json"));
    }
    for (auto const& [path, file] : files) {
        server.put("files/" + path, file.bytes);
        for (int k = 1; k <= mirrors; ++k) server.put("m" + std::to_string(k) + "/files/" + path, file.bytes);
        FileEntry& entry = manifest.files.emplace_back(
            FileEntry{path, file.size.value_or(file.bytes.size()), file.sha256.value_or(sha256_hex(file.bytes)), nullptr});
        if (!chunk_params || file.bytes.size() < (64 << 10)) continue;
        std::string const index = chunk_index_of(file.bytes.data(), file.bytes.size(), *chunk_params);
        std::size_t const head = chunk_index_head_size(index);
        server.put("chunks/" + path + ".idx", index);
        for (int k = 1; k <= mirrors; ++k) server.put("m" + std::to_string(k) + "/chunks/" + path + ".idx", index);
        // Relative to base_url, as the operators' tool writes it.
        std::string const url = "../" + server.url("chunks/" + path + ".idx").substr(server.url("").size());
        entry.chunk_index = std::make_shared<ChunkIndexRef const>(
            ChunkIndexRef{url, index.size(), sha256_hex(index), head, sha256_hex(index.substr(0, head))});
    }
    std::string const manifest_text = write_manifest(manifest);
    server.put("manifest.json", manifest_text);
    for (int k = 1; k <= mirrors; ++k) server.put("m" + std::to_string(k) + "/manifest.json", manifest_text);
    server.put("version.json", version_document_text(version_document_json(version)));
}

std::string EngineTest::localhost_url(std::string_view relative) const {
    return "http://localhost:" + http_base().substr(http_base().rfind(':') + 1) + server.path(relative);
}

std::string EngineTest::mirror_url(int k, std::string_view relative) const {
    std::string const path = "m" + std::to_string(k) + "/" + std::string(relative);
    return k == 1 ? localhost_url(path) : https_base() + server.path(path);
}

void EngineTest::avoid_mirror_at_start() const {
    std::string const mirror = mirror_url(1, "");
    write_file(config().hash_cache_file.parent_path() / "hosts.json",
               nlohmann::json{{mirror.substr(0, mirror.find('/', 8)), std::time(nullptr) + 60}}.dump());
}

PatchConfig EngineTest::config() const {
    PatchConfig c;
    c.game_dir = base / "game";
    c.version_file = base / "launcher" / ".korvel" / "client.version";
    c.hash_cache_file = base / "launcher" / ".korvel" / "hash_cache.json";
    c.version_url = server.url("version.json");
    c.launcher_version = "2.1.0";
    c.release_public_key = release_key;
    return c;
}

PatchResult EngineTest::run(bool full_repair) {
    reports.clear();
    return PatcherEngine::run(config(), full_repair, [this](PatchProgress const& p) { reports.push_back(p); });
}

std::string EngineTest::run_failing(bool full_repair) {
    try {
        run(full_repair);
    } catch (std::exception const& e) {
        return e.what();
    }
    ADD_FAILURE() << "the run did not fail";
    return {};
}

void EngineTest::go_deep() {
    while (base.native().size() <= 280) base /= std::wstring(40, L'g');
    fs::create_directories(base / "game");
}

fs::path EngineTest::game(std::string_view relative) const {
    return base / "game" / utf8_to_wide(relative);
}

void EngineTest::put_game_file(std::string_view relative, std::string_view bytes) const {
    write_file(game(relative), bytes);
}

std::string EngineTest::game_file(std::string_view relative) const {
    return read_file(game(relative));
}

std::vector<fs::path> EngineTest::leftovers(std::wstring_view suffix) const {
    std::vector<fs::path> found;
    // Walked in the long-path form, so that a folder from go_deep() is searched too; the
    // paths found are given in the ordinary form.
    std::wstring const long_form = win32_path(dir.path()).native();
    for (auto const& entry : fs::recursive_directory_iterator(long_form)) {
        std::wstring const name = entry.path().filename().native();
        if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            found.push_back(dir.path() / entry.path().native().substr(long_form.size() + 1));
    }
    return found;
}

std::vector<PatchStage> EngineTest::stages() const {
    std::vector<PatchStage> list;
    for (auto const& r : reports) list.push_back(r.stage);
    return list;
}

std::vector<PatchProgress> EngineTest::reports_of(PatchStage stage) const {
    std::vector<PatchProgress> list;
    for (auto const& r : reports)
        if (r.stage == stage) list.push_back(r);
    return list;
}

}  // namespace korvel::test
