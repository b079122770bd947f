#include "core/chunk_index.h"

#include "core/sha256.h"

#include <stdexcept>

namespace korvel {

namespace {

constexpr std::string_view magic = "KCIX";

void put(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

std::uint64_t get(std::string_view bytes, std::size_t at, int width) {
    std::uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i) value = (value << 8) | static_cast<std::uint8_t>(bytes[at + i]);
    return value;
}

[[noreturn]] void malformed() { throw std::runtime_error("Érvénytelen darabindex"); }

struct Header {
    ChunkerParams params;
    std::uint64_t file_size = 0;
    std::uint32_t coarse_count = 0;
    std::uint64_t fine_count = 0;
};

std::string header_bytes(Header const& h) {
    std::string out(magic);
    put(out, chunk_index_format, 2);
    put(out, chunker_version, 2);
    put(out, h.params.min_size, 4);
    put(out, h.params.avg_size, 4);
    put(out, h.params.max_size, 4);
    put(out, h.params.coarse_bits, 4);
    put(out, h.params.coarse_min, 4);
    put(out, h.params.coarse_max, 4);
    put(out, h.file_size, 8);
    put(out, h.coarse_count, 4);
    put(out, 0, 4);
    put(out, h.fine_count, 8);
    put(out, 0, 8);
    return out;
}

Header read_header(std::string_view bytes) {
    if (bytes.size() < chunk_index_header_size || bytes.substr(0, 4) != magic) malformed();
    if (get(bytes, 4, 2) != chunk_index_format || get(bytes, 6, 2) != chunker_version) malformed();
    Header h;
    h.params.min_size = static_cast<std::uint32_t>(get(bytes, 8, 4));
    h.params.avg_size = static_cast<std::uint32_t>(get(bytes, 12, 4));
    h.params.max_size = static_cast<std::uint32_t>(get(bytes, 16, 4));
    h.params.coarse_bits = static_cast<std::uint32_t>(get(bytes, 20, 4));
    h.params.coarse_min = static_cast<std::uint32_t>(get(bytes, 24, 4));
    h.params.coarse_max = static_cast<std::uint32_t>(get(bytes, 28, 4));
    h.file_size = get(bytes, 32, 8);
    h.coarse_count = static_cast<std::uint32_t>(get(bytes, 40, 4));
    h.fine_count = get(bytes, 48, 8);
    if (!chunker_params_valid(h.params)) malformed();
    // At least one fine chunk per coarse chunk and per max_size bytes: counts a hostile
    // index could inflate to exhaust memory are refused here.
    std::uint64_t const most = h.file_size / h.params.min_size + 1;
    if (h.coarse_count > h.fine_count || h.fine_count > most) malformed();
    if ((h.file_size == 0) != (h.fine_count == 0)) malformed();
    return h;
}

}  // namespace

void append_fine_entry(std::string& out, FineEntry const& entry) {
    put(out, entry.size, 2);
    put(out, entry.hash, 6);
}

std::uint64_t coarse_hash_of(std::string_view fine_bytes) {
    Sha256 hash;
    hash.update(fine_bytes.data(), fine_bytes.size());
    Sha256Digest const digest = hash.finalize();
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | digest[static_cast<std::size_t>(i)];
    return value;
}

void ChunkIndexWriter::add(Chunk const& chunk) {
    append_fine_entry(fine_, {chunk.size, fine_hash_of(chunk.hash)});
    file_size_ += chunk.size;
    coarse_size_ += chunk.size;
    if (!chunk.ends_coarse) return;
    std::string_view const entries = std::string_view(fine_).substr(coarse_first_);
    coarse_.push_back({coarse_hash_of(entries), coarse_size_,
                       static_cast<std::uint32_t>(entries.size() / fine_entry_size)});
    coarse_first_ = fine_.size();
    coarse_size_ = 0;
}

std::string ChunkIndexWriter::finish() {
    std::string out = header_bytes({params_, file_size_, static_cast<std::uint32_t>(coarse_.size()),
                                    fine_.size() / fine_entry_size});
    for (CoarseEntry const& c : coarse_) {
        put(out, c.hash, 8);
        put(out, c.size, 4);
        put(out, c.fine_count, 4);
    }
    out += fine_;
    fine_.clear();
    coarse_.clear();
    return out;
}

std::string chunk_index_of(void const* data, std::size_t size, ChunkerParams const& params) {
    Chunker chunker(params);
    ChunkIndexWriter writer(params);
    ChunkFn const add = [&](Chunk const& c, std::uint8_t const*) { writer.add(c); };
    chunker.feed(data, size, add);
    chunker.finish(add);
    return writer.finish();
}

std::size_t chunk_index_head_size(std::string_view header) {
    return chunk_index_header_size + std::size_t{read_header(header).coarse_count} * coarse_entry_size;
}

ChunkIndexHead read_chunk_index_head(std::string_view bytes) {
    Header const h = read_header(bytes);
    ChunkIndexHead head;
    head.params = h.params;
    head.file_size = h.file_size;
    head.fine_count = h.fine_count;
    if (bytes.size() < chunk_index_header_size + std::size_t{h.coarse_count} * coarse_entry_size) malformed();
    head.coarse.reserve(h.coarse_count);
    std::uint64_t size = 0, fine = 0;
    for (std::size_t i = 0; i < h.coarse_count; ++i) {
        std::size_t const at = chunk_index_header_size + i * coarse_entry_size;
        CoarseEntry const c{get(bytes, at, 8), static_cast<std::uint32_t>(get(bytes, at + 8, 4)),
                            static_cast<std::uint32_t>(get(bytes, at + 12, 4))};
        if (c.fine_count == 0 || c.size < c.fine_count) malformed();
        size += c.size;
        fine += c.fine_count;
        head.coarse.push_back(c);
    }
    if (size != h.file_size || fine != h.fine_count) malformed();
    return head;
}

std::vector<FineEntry> read_fine_entries(std::string_view bytes) {
    if (bytes.size() % fine_entry_size != 0) malformed();
    std::vector<FineEntry> entries;
    entries.reserve(bytes.size() / fine_entry_size);
    for (std::size_t at = 0; at < bytes.size(); at += fine_entry_size)
        entries.push_back({static_cast<std::uint32_t>(get(bytes, at, 2)), get(bytes, at + 2, 6)});
    return entries;
}

}  // namespace korvel
