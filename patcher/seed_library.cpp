#include "patcher/seed_library.h"

#include "platform/open_file.h"

#include <algorithm>
#include <chrono>
#include <exception>

namespace fs = std::filesystem;

namespace korvel {

namespace {

std::pair<std::wstring, std::array<std::uint32_t, 6>> key_of(fs::path const& file, ChunkerParams const& p) {
    return {file.native(), {p.min_size, p.avg_size, p.max_size, p.coarse_bits, p.coarse_min, p.coarse_max}};
}

}  // namespace

template <typename T, typename Make>
T SeedLibrary::once(std::map<Key, std::shared_future<T>>& cache, Key const& key, Make const& make) {
    std::unique_lock lock(mutex_);
    if (auto const it = cache.find(key); it != cache.end()) {
        std::shared_future<T> const made = it->second;
        lock.unlock();
        return made.get();
    }
    std::promise<T> promise;
    cache.emplace(key, promise.get_future().share());
    lock.unlock();
    try {
        T made = make();
        promise.set_value(made);
        return made;
    } catch (...) {
        promise.set_exception(std::current_exception());
        throw;
    }
}

// Reads through a handle opened now and kept by the reader, counting every byte.
ReadAtFn SeedLibrary::counted_reader(fs::path const& file, std::string const& name) {
    auto const in = std::make_shared<OpenFile const>(file, OpenFile::Access::read);
    return [this, in, name](std::uint64_t offset, char* data, std::size_t size) {
        std::size_t const got = in->read_at(offset, data, size);
        std::lock_guard const lock(mutex_);
        read_[name] += got;
        return got;
    };
}

void SeedLibrary::expect(fs::path const& file) {
    std::lock_guard const lock(mutex_);
    ++expected_[file.native()];
}

void SeedLibrary::done_with(fs::path const& file) {
    std::lock_guard const lock(mutex_);
    auto const it = expected_.find(file.native());
    if (it == expected_.end() || --it->second > 0) return;
    expected_.erase(it);
    // A file still holding the table keeps it until it is done.
    auto const drop = [&](auto& cache) {
        std::erase_if(cache, [&](auto const& entry) { return entry.first.first == file.native(); });
    };
    drop(chunks_);
    drop(wanted_);
    drop(samples_);
}

std::shared_ptr<SeedTable const> SeedLibrary::chunks(fs::path const& file, std::string const& name,
                                                     std::uint64_t size, ChunkerParams const& params,
                                                     std::shared_ptr<CoarseSet const> const& wanted,
                                                     SeedReadFn const& on_read, SeedTable::CutFn const& cut) {
    Key const key = key_of(file, params);
    {
        // Only a reading still to come or under way asks what the files want.
        std::lock_guard const lock(mutex_);
        auto const made = chunks_.find(key);
        if (made == chunks_.end() || made->second.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
            wanted_[key].push_back(wanted);
    }
    // Asked as each coarse chunk ends, so that a file asking while the seed is read
    // counts from there on.
    WholeCoarseFn const whole = [this, key](std::uint64_t hash, std::uint32_t coarse_size) {
        std::lock_guard const lock(mutex_);
        auto const it = wanted_.find(key);
        return it != wanted_.end() && std::any_of(it->second.begin(), it->second.end(), [&](auto const& set) {
                   return set->has(hash, coarse_size);
               });
    };
    return once(chunks_, key, [&] {
        auto made = std::make_shared<SeedTable>(file, false, params);
        made->read(size, counted_reader(file, name), on_read, whole, cut);
        std::lock_guard const lock(mutex_);
        wanted_.erase(key);
        return std::shared_ptr<SeedTable const>(std::move(made));
    });
}

SeedSample SeedLibrary::sample(fs::path const& file, std::string const& name, std::uint64_t size,
                               ChunkerParams const& params) {
    return once(samples_, key_of(file, params),
                [&] { return sample_seed(params, size, counted_reader(file, name)); });
}

std::shared_ptr<SeedTable const> SeedLibrary::own(fs::path const& file, std::string const& name, std::uint64_t size,
                                                  ChunkerParams const& params, CoarseSet const& wanted,
                                                  SeedReadFn const& on_read) {
    auto made = std::make_shared<SeedTable>(file, true, params);
    made->read(size, counted_reader(file, name), on_read,
               [&](std::uint64_t hash, std::uint32_t coarse_size) { return wanted.has(hash, coarse_size); });
    return made;
}

std::map<std::string, std::uint64_t> SeedLibrary::bytes_read() const {
    std::lock_guard const lock(mutex_);
    return read_;
}

}  // namespace korvel
