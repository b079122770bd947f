#pragma once
// The seeds of one run's delta updates, each read at most once however many files can
// use it: a release that splits old packs into new ones offers every deleted pack to
// every new one. Large seeds are first sampled, so that one that shares nothing with a
// file is never read whole for it. A seed's table is read for the files that ask for it
// (its fine chunks kept only where one of them lacks a coarse chunk) and dropped once
// the last file expected to use it is done. Any thread: a file that asks for a seed
// another is reading waits for that reading instead of starting its own.

#include "patcher/delta_plan.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace korvel {

class SeedLibrary {
public:
    // A file still to come may use the seed `file`: its table is kept until done_with
    // has been called as often as this.
    void expect(std::filesystem::path const& file);
    void done_with(std::filesystem::path const& file);

    // The table of the whole seed `file` of `size` bytes, read the first time a file
    // asks; `on_read` and `cut` (see SeedTable::read) hear that reading, when this file
    // is the one that reads. `wanted` is the asking file's coarse chunks: the fine chunks
    // of a seed's coarse chunk that a file asking before the reading passed it has whole
    // are not kept, so another file that holds only part of that coarse chunk fetches
    // that part. `name` (UTF-8) counts the bytes read. Throws when the seed cannot be
    // read, to every file that asks.
    std::shared_ptr<SeedTable const> chunks(std::filesystem::path const& file, std::string const& name,
                                            std::uint64_t size, ChunkerParams const& params,
                                            std::shared_ptr<CoarseSet const> const& wanted, SeedReadFn const& on_read,
                                            SeedTable::CutFn const& cut = {});
    // The sample of a seed larger than sampled_from(params), read once likewise.
    SeedSample sample(std::filesystem::path const& file, std::string const& name, std::uint64_t size,
                      ChunkerParams const& params);
    // A seed of one file only (its own part), read whole for it each time, keeping fine
    // chunks only inside the coarse chunks `wanted` lacks.
    std::shared_ptr<SeedTable const> own(std::filesystem::path const& file, std::string const& name,
                                         std::uint64_t size, ChunkerParams const& params, CoarseSet const& wanted,
                                         SeedReadFn const& on_read);

    // The bytes read of each seed by its name, reading again included.
    std::map<std::string, std::uint64_t> bytes_read() const;

private:
    using Key = std::pair<std::wstring, std::array<std::uint32_t, 6>>;
    template <typename T, typename Make>
    T once(std::map<Key, std::shared_future<T>>& cache, Key const& key, Make const& make);
    ReadAtFn counted_reader(std::filesystem::path const& file, std::string const& name);

    mutable std::mutex mutex_;
    std::map<Key, std::shared_future<std::shared_ptr<SeedTable const>>> chunks_;
    // What the files that asked for a seed have whole, while it is being read.
    std::map<Key, std::vector<std::shared_ptr<CoarseSet const>>> wanted_;
    std::map<Key, std::shared_future<SeedSample>> samples_;
    std::map<std::wstring, std::size_t> expected_;
    std::map<std::string, std::uint64_t> read_;
};

}  // namespace korvel
