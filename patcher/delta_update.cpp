#include "patcher/delta_update.h"

#include "core/chunk_index.h"
#include "core/sha256.h"
#include "patcher/delta_plan.h"

#include <fstream>
#include <memory>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace korvel {

namespace {

// Thrown inside this file when the delta gives up; the whole file is fetched instead.
constexpr std::uint64_t max_index_head = 16 << 20;

struct GiveUp : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string sha256_hex(std::string_view bytes) {
    Sha256 hash;
    hash.update(bytes.data(), bytes.size());
    return to_hex(hash.finalize());
}

// The seeds that are there to read, with their sizes.
std::vector<std::pair<DeltaSeed, std::uint64_t>> present(std::vector<DeltaSeed> const& seeds) {
    std::vector<std::pair<DeltaSeed, std::uint64_t>> out;
    for (DeltaSeed const& s : seeds) {
        std::error_code ec;
        if (!fs::is_regular_file(s.file, ec)) continue;
        std::uint64_t const size = fs::file_size(s.file, ec);
        if (!ec && size > 0) out.push_back({s, size});
    }
    return out;
}

class Assembler {
public:
    Assembler(HttpSession& http, std::string const& url, fs::path const& part, SeedChunks const& seeds,
              DeltaEvents const& events, std::vector<char>& buffer, std::uint64_t travelled)
        : http_(http), url_(url), part_(part), seeds_(seeds), events_(events), buffer_(buffer),
          travelled_(travelled) {}

    bool touched_part = false;  // from here on a failure leaves a part worth nothing

    std::string run(DeltaPlan const& plan);

private:
    std::size_t copy_run(std::vector<Piece> const& pieces, std::size_t first);
    void fetch(ByteRange const& range);
    std::istream& seed_stream(std::uint32_t seed);
    void write_at(std::uint64_t offset, char const* data, std::size_t size);

    HttpSession& http_;
    std::string const& url_;
    fs::path const& part_;
    SeedChunks const& seeds_;
    DeltaEvents const& events_;
    std::vector<char>& buffer_;
    std::uint64_t travelled_;
    std::fstream out_;
    std::vector<std::unique_ptr<std::ifstream>> inputs_;
    std::vector<char> copy_buffer_;
    Sha256 hash_;
};

std::string Assembler::run(DeltaPlan const& plan) {
    touched_part = true;
    if (!fs::exists(part_)) std::ofstream(part_, std::ios::binary);
    out_.open(part_, std::ios::binary | std::ios::in | std::ios::out);
    if (!out_) throw GiveUp("cannot open the part");
    std::vector<Piece> const& pieces = plan.pieces;
    std::size_t range = 0;
    for (std::size_t i = 0; i < pieces.size();) {
        if (pieces[i].seed_chunk != no_seed_chunk) {
            i = copy_run(pieces, i);
            continue;
        }
        ByteRange const& r = plan.ranges.at(range++);
        if (r.first != pieces[i].offset) throw std::logic_error("delta plan out of order");
        fetch(r);
        while (i < pieces.size() && pieces[i].offset < r.first + r.length) ++i;
    }
    out_.close();
    if (out_.fail()) throw GiveUp("cannot write the part");
    std::uint64_t const size = pieces.empty() ? 0 : pieces.back().offset + pieces.back().size;
    fs::resize_file(part_, size);  // a longer old part keeps no tail
    return to_hex(hash_.finalize());
}

std::istream& Assembler::seed_stream(std::uint32_t seed) {
    if (seeds_.aligned(seed)) return out_;
    if (inputs_.size() <= seed) inputs_.resize(seed + 1);
    if (!inputs_[seed]) {
        inputs_[seed] = std::make_unique<std::ifstream>(seeds_.path(seed), std::ios::binary);
        if (!*inputs_[seed]) throw GiveUp("seed gone");
    }
    return *inputs_[seed];
}

void Assembler::write_at(std::uint64_t offset, char const* data, std::size_t size) {
    out_.seekp(static_cast<std::streamoff>(offset));
    out_.write(data, static_cast<std::streamsize>(size));
    if (!out_) throw GiveUp("cannot write the part");
}

// Copies the pieces from `first` on that lie one after the other in one seed (up to
// 1 MiB) with one read, checking each chunk; returns the next piece.
std::size_t Assembler::copy_run(std::vector<Piece> const& pieces, std::size_t first) {
    SeedChunk const& start = seeds_.chunk(pieces[first].seed_chunk);
    std::size_t end = first;
    std::uint64_t length = 0;
    while (end < pieces.size() && pieces[end].seed_chunk != no_seed_chunk) {
        SeedChunk const& c = seeds_.chunk(pieces[end].seed_chunk);
        if (c.seed != start.seed || c.offset != start.offset + length || length + c.size > (1u << 20)) break;
        length += c.size;
        ++end;
    }
    copy_buffer_.resize(length);
    std::istream& in = seed_stream(start.seed);
    in.seekg(static_cast<std::streamoff>(start.offset));
    in.read(copy_buffer_.data(), static_cast<std::streamsize>(length));
    if (static_cast<std::uint64_t>(in.gcount()) != length) throw GiveUp("seed changed");
    std::uint64_t at = 0;
    for (std::size_t i = first; i < end; ++i) {
        SeedChunk const& c = seeds_.chunk(pieces[i].seed_chunk);
        if (fine_hash_of(chunk_hash(copy_buffer_.data() + at, c.size)) != c.hash) throw GiveUp("seed changed");
        at += c.size;
    }
    // The part's own chunks already lie where they belong.
    if (!seeds_.aligned(start.seed)) write_at(pieces[first].offset, copy_buffer_.data(), length);
    hash_.update(copy_buffer_.data(), length);
    return end;
}

void Assembler::fetch(ByteRange const& range) {
    out_.seekp(static_cast<std::streamoff>(range.first));
    http_get_range(
        http_, url_, range.first, range.length,
        [&](char const* data, std::size_t size) {
            out_.write(data, static_cast<std::streamsize>(size));
            if (!out_) throw GiveUp("cannot write the part");
            hash_.update(data, size);
            travelled_ += size;
            if (events_.travelled) events_.travelled(travelled_);
        },
        buffer_);
}

// Reads every seed with the index's chunker, reporting as it goes. A seed that cannot
// be read is left out.
SeedChunks read_seeds(std::vector<std::pair<DeltaSeed, std::uint64_t>> const& seeds, ChunkerParams const& params,
                      DeltaEvents const& events) {
    std::uint64_t total = 0, before = 0;
    for (auto const& s : seeds) total += s.second;
    SeedChunks chunks(params);
    for (auto const& [seed, size] : seeds) {
        if (events.comparing) events.comparing(seed.name, before, total);
        try {
            chunks.add(seed.file, seed.aligned, [&, &name = seed.name](std::uint64_t read) {
                if (events.comparing) events.comparing(name, before + read, total);
            });
        } catch (std::runtime_error const&) {
        }
        before += size;
    }
    chunks.index();
    return chunks;
}

std::optional<DeltaResult> attempt(HttpSession& http, FileEntry const& entry, std::string const& url,
                                   fs::path const& part, std::vector<std::pair<DeltaSeed, std::uint64_t>> const& seeds,
                                   DeltaEvents const& events, std::vector<char>& buffer, bool& touched_part) {
    ChunkIndexRef const& ref = *entry.chunk_index;
    std::string head_bytes;
    http_get_range(http, ref.url, 0, ref.head_size, [&](char const* d, std::size_t n) { head_bytes.append(d, n); },
                   buffer);
    std::uint64_t travelled = head_bytes.size();
    if (events.travelled) events.travelled(travelled);
    if (sha256_hex(head_bytes) != ref.head_sha256) return std::nullopt;
    ChunkIndexHead const head = read_chunk_index_head(head_bytes);
    if (head.file_size != entry.size || head.index_size() != ref.size || head.head_size() != ref.head_size)
        return std::nullopt;

    SeedChunks const chunks = read_seeds(seeds, head.params, events);
    if (chunks.empty()) return std::nullopt;
    DeltaPlan const plan = make_delta_plan(head, chunks, [&](std::uint64_t first, std::uint64_t length) {
        std::string bytes;
        http_get_range(http, ref.url, first, length, [&](char const* d, std::size_t n) { bytes.append(d, n); },
                       buffer);
        travelled += bytes.size();
        if (events.travelled) events.travelled(travelled);
        return bytes;
    });
    if (static_cast<double>(plan.fetch_bytes) >= delta_most_of_file * static_cast<double>(entry.size))
        return std::nullopt;
    if (events.planned) events.planned(travelled + plan.fetch_bytes);

    Assembler assembler(http, url, part, chunks, events, buffer, travelled);
    struct Touched {
        Assembler const& assembler;
        bool& touched;
        ~Touched() { touched = assembler.touched_part; }
    } const note{assembler, touched_part};
    std::string const sha256 = assembler.run(plan);
    if (sha256 != entry.sha256) return std::nullopt;
    return DeltaResult{sha256, entry.size};
}

}  // namespace

std::optional<DeltaResult> fetch_by_delta(HttpSession& http, FileEntry const& entry, std::string const& url,
                                          fs::path const& part, std::vector<DeltaSeed> const& seeds,
                                          DeltaEvents const& events, std::vector<char>& buffer) {
    // A head larger than any real file needs (about 16 bytes per 150 KiB) is not fetched
    // into memory: the manifest may come from a server that is not the operator's.
    if (!entry.chunk_index || entry.chunk_index->head_size > max_index_head) return std::nullopt;
    std::vector<std::pair<DeltaSeed, std::uint64_t>> const usable = present(seeds);
    if (usable.empty()) return std::nullopt;
    std::optional<DeltaResult> result;
    bool touched_part = false;
    try {
        result = attempt(http, entry, url, part, usable, events, buffer, touched_part);
    } catch (std::exception const&) {
        // Whatever went wrong (ranges refused or cut short, a seed that changed, a bad
        // index, a failed write), the whole file is still there to fetch.
    }
    // A part this never wrote to may be one a whole transfer can still continue.
    if (!result && touched_part) {
        std::error_code ignored;
        fs::remove(part, ignored);
    }
    return result;
}

}  // namespace korvel
