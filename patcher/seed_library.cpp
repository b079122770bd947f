#include "patcher/seed_library.h"

#include "platform/open_file.h"

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

std::shared_ptr<SeedChunks const> SeedLibrary::chunks(fs::path const& file, std::string const& name,
                                                      std::uint64_t size, ChunkerParams const& params,
                                                      SeedReadFn const& on_read) {
    return once(chunks_, key_of(file, params), [&] {
        auto made = std::make_shared<SeedChunks>(params);
        made->add(file, size, false, counted_reader(file, name), on_read);
        return std::shared_ptr<SeedChunks const>(std::move(made));
    });
}

SeedSample SeedLibrary::sample(fs::path const& file, std::string const& name, std::uint64_t size,
                               ChunkerParams const& params) {
    return once(samples_, key_of(file, params),
                [&] { return sample_seed(params, size, counted_reader(file, name)); });
}

void SeedLibrary::add_own(SeedChunks& chunks, fs::path const& file, std::string const& name, std::uint64_t size,
                          SeedReadFn const& on_read) {
    chunks.add(file, size, true, counted_reader(file, name), on_read);
}

std::map<std::string, std::uint64_t> SeedLibrary::bytes_read() const {
    std::lock_guard const lock(mutex_);
    return read_;
}

}  // namespace korvel
