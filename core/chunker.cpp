#include "core/chunker.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace korvel {

namespace {

static_assert(std::endian::native == std::endian::little, "chunk hashes read words little-endian");

constexpr std::uint64_t k1 = 0xe8f67c754adf895full;
constexpr std::uint64_t k2 = 0x33817c4d7e7220c9ull;
constexpr std::uint64_t k3 = 0xeb026b3cb88c4499ull;
constexpr std::uint64_t k4 = 0xe52cc8e46f8ec465ull;
constexpr std::uint64_t k5 = 0xa7a030fea41d9731ull;

constexpr std::uint64_t avalanche(std::uint64_t h) {
    h ^= h >> 33;
    h *= k4;
    h ^= h >> 29;
    h *= k5;
    h ^= h >> 32;
    return h;
}

// The rolling hash's byte table: 256 well-spread words made by a fixed rule, so that
// both builds and any later reader have the same table without shipping it.
constexpr std::array<std::uint64_t, 256> make_gear() {
    std::array<std::uint64_t, 256> table{};
    for (std::uint64_t i = 0; i < 256; ++i) table[i] = avalanche((i + 1) * k1 ^ k2);
    return table;
}

constexpr std::array<std::uint64_t, 256> gear = make_gear();

// `bits` one-bits spread over the high end of the word, every third position from bit
// 63 - phase: the high bits of the rolling hash depend on the most bytes.
constexpr std::uint64_t spread_mask(std::uint32_t bits, std::uint32_t phase) {
    std::uint64_t mask = 0;
    for (std::uint32_t i = 0; i < bits; ++i) mask |= 1ull << (63 - phase - 3 * i);
    return mask;
}

std::uint64_t word(std::uint8_t const* p) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    return w;
}

inline void mix_lane(std::uint64_t& lane, std::uint64_t w) {
    lane += w * k2;
    lane = std::rotl(lane, 31);
    lane *= k1;
}

struct Cut {
    std::size_t size;
    bool by_content;  // the rolling hash met the mask; else the size forced the cut
    std::uint64_t fp;
};

// The next chunk of `p[0..n)`; `n` holds max_size bytes unless the stream ends.
Cut find_cut(std::uint8_t const* p, std::size_t n, ChunkerParams const& params, std::uint64_t strict,
             std::uint64_t loose) {
    if (n <= params.min_size) return {n, false, 0};
    std::size_t const limit = std::min<std::size_t>(n, params.max_size);
    std::size_t const normal = std::min<std::size_t>(limit, params.avg_size);
    std::uint64_t fp = 0;
    std::size_t i = params.min_size;
    for (; i < normal; ++i) {
        fp = (fp << 1) + gear[p[i]];
        if ((fp & strict) == 0) return {i + 1, true, fp};
    }
    for (; i < limit; ++i) {
        fp = (fp << 1) + gear[p[i]];
        if ((fp & loose) == 0) return {i + 1, true, fp};
    }
    return {limit, false, 0};
}

void mix_block(std::uint64_t (&lanes)[4], std::uint8_t const* p) {
    mix_lane(lanes[0], word(p));
    mix_lane(lanes[1], word(p + 8));
    mix_lane(lanes[2], word(p + 16));
    mix_lane(lanes[3], word(p + 24));
}

// The tail (fewer than 32 bytes), zero-padded to one more block; the length tells
// paddings apart.
std::uint64_t finish(std::uint64_t (&lanes)[4], std::uint8_t const* rest, std::size_t rest_size, std::uint64_t size) {
    std::uint8_t tail[32] = {};
    std::memcpy(tail, rest, rest_size);
    mix_block(lanes, tail);
    std::uint64_t const h = lanes[0] ^ std::rotl(lanes[1], 16) ^ std::rotl(lanes[2], 32) ^ std::rotl(lanes[3], 48);
    return avalanche(h ^ size * k3);
}

}  // namespace

bool chunker_params_valid(ChunkerParams const& p) {
    return p.min_size >= 64 && p.min_size < p.avg_size && p.avg_size < p.max_size && p.max_size <= 65535 &&
           std::has_single_bit(p.avg_size) && p.avg_size >= 256 && p.coarse_bits >= 1 && p.coarse_bits <= 12 &&
           p.coarse_min <= p.coarse_max && p.coarse_max <= (64u << 20);
}

std::uint64_t chunk_hash(void const* data, std::size_t size) {
    auto const* p = static_cast<std::uint8_t const*>(data);
    std::uint64_t lanes[4] = {k1, k2, k3, k5};
    std::size_t const whole = size & ~std::size_t{31};
    for (std::size_t i = 0; i < whole; i += 32) mix_block(lanes, p + i);
    return finish(lanes, p + whole, size - whole, size);
}

ChunkHashStream::ChunkHashStream() : lanes_{k1, k2, k3, k5}, held_{} {}

void ChunkHashStream::feed(void const* data, std::size_t size) {
    auto const* p = static_cast<std::uint8_t const*>(data);
    size_ += size;
    if (held_size_ > 0) {
        std::size_t const take = std::min(size, 32 - held_size_);
        std::memcpy(held_ + held_size_, p, take);
        held_size_ += take;
        p += take;
        size -= take;
        if (held_size_ < 32) return;
        mix_block(lanes_, held_);
        held_size_ = 0;
    }
    std::size_t const whole = size & ~std::size_t{31};
    for (std::size_t i = 0; i < whole; i += 32) mix_block(lanes_, p + i);
    std::memcpy(held_, p + whole, size - whole);
    held_size_ = size - whole;
}

std::uint64_t ChunkHashStream::value() const {
    std::uint64_t lanes[4] = {lanes_[0], lanes_[1], lanes_[2], lanes_[3]};
    return finish(lanes, held_, held_size_, size_);
}

Chunker::Chunker(ChunkerParams const& params)
    : params_(params),
      mask_strict_(spread_mask(static_cast<std::uint32_t>(std::countr_zero(params.avg_size)) + 2, 0)),
      mask_loose_(spread_mask(static_cast<std::uint32_t>(std::countr_zero(params.avg_size)) - 2, 0)),
      mask_coarse_(spread_mask(params.coarse_bits, 1)) {}

void Chunker::feed(void const* data, std::size_t size, ChunkFn const& on_chunk) {
    auto const* p = static_cast<std::uint8_t const*>(data);
    // Bytes already cut are dropped first, so pending_ holds less than one chunk plus
    // the new piece and is copied at most once.
    if (start_ > 0) {
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(start_));
        start_ = 0;
    }
    pending_.insert(pending_.end(), p, p + size);
    cut_all(false, on_chunk);
}

void Chunker::finish(ChunkFn const& on_chunk) {
    cut_all(true, on_chunk);
    pending_.clear();
    start_ = 0;
}

void Chunker::cut_all(bool final, ChunkFn const& on_chunk) {
    for (;;) {
        std::size_t const left = pending_.size() - start_;
        if (left == 0 || (!final && left < params_.max_size)) return;
        std::uint8_t const* const p = pending_.data() + start_;
        Cut const cut = find_cut(p, left, params_, mask_strict_, mask_loose_);
        std::size_t const size = cut.size;
        coarse_size_ += size;
        bool const last = final && size == left;
        bool const ends_coarse = last || coarse_size_ >= params_.coarse_max ||
                                 (cut.by_content && (cut.fp & mask_coarse_) == 0 && coarse_size_ >= params_.coarse_min);
        if (ends_coarse) coarse_size_ = 0;
        on_chunk(Chunk{offset_, static_cast<std::uint32_t>(size), chunk_hash(p, size), ends_coarse}, p);
        start_ += size;
        offset_ += size;
    }
}

}  // namespace korvel
