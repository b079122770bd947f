#include "core/sha256.h"

#include <cstring>
#include <stdexcept>

namespace korvel {

namespace {

constexpr std::array<std::uint32_t, 8> initial_state = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19,
};

}  // namespace

Sha256::Sha256() : Sha256(sha256_detail::compress_default()) {}

Sha256::Sha256(Sha256Compress compress) : state_(initial_state), compress_(compress) {}

void Sha256::update(void const* data, std::size_t length) {
    if (length == 0) return;
    if (finalized_) throw std::runtime_error("SHA-256 already finalized");
    auto const* bytes = static_cast<std::uint8_t const*>(data);

    if (buffered_ > 0) {
        std::size_t const take = std::min<std::size_t>(length, 64 - buffered_);
        std::memcpy(block_.data() + buffered_, bytes, take);
        buffered_ += take;
        bytes += take;
        length -= take;
        if (buffered_ < 64) return;
        compress_(state_.data(), block_.data(), 1);
        bit_count_ += 512;
        buffered_ = 0;
    }
    // Whole blocks straight from the caller's memory: the same blocks, in the same
    // order, as copying them through the buffer one by one.
    std::size_t const blocks = length / 64;
    if (blocks > 0) {
        compress_(state_.data(), bytes, blocks);
        bit_count_ += 512 * static_cast<std::uint64_t>(blocks);
        bytes += blocks * 64;
        length -= blocks * 64;
    }
    std::memcpy(block_.data(), bytes, length);
    buffered_ = length;
}

Sha256Digest Sha256::finalize() {
    if (finalized_) throw std::runtime_error("SHA-256 already finalized");
    std::uint64_t const message_bits = bit_count_ + 8 * buffered_;

    block_[buffered_++] = 0x80;
    if (buffered_ > 56) {
        std::memset(block_.data() + buffered_, 0, 64 - buffered_);
        compress_(state_.data(), block_.data(), 1);
        buffered_ = 0;
    }
    std::memset(block_.data() + buffered_, 0, 56 - buffered_);
    for (int i = 0; i < 8; ++i) block_[56 + i] = static_cast<std::uint8_t>(message_bits >> (56 - 8 * i));
    compress_(state_.data(), block_.data(), 1);
    buffered_ = 0;

    Sha256Digest digest{};
    for (int i = 0; i < 8; ++i) {
        digest[4 * i + 0] = static_cast<std::uint8_t>(state_[i] >> 24);
        digest[4 * i + 1] = static_cast<std::uint8_t>(state_[i] >> 16);
        digest[4 * i + 2] = static_cast<std::uint8_t>(state_[i] >> 8);
        digest[4 * i + 3] = static_cast<std::uint8_t>(state_[i]);
    }
    finalized_ = true;
    return digest;
}

std::string to_hex(Sha256Digest const& digest) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text(64, '0');
    for (std::size_t i = 0; i < digest.size(); ++i) {
        text[2 * i] = digits[digest[i] >> 4];
        text[2 * i + 1] = digits[digest[i] & 0x0f];
    }
    return text;
}

std::string sha256_hex(std::string_view bytes) {
    Sha256 hash;
    hash.update(bytes.data(), bytes.size());
    return to_hex(hash.finalize());
}

}  // namespace korvel
