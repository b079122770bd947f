#pragma once
// SHA-256 exactly as FIPS 180-4 defines it. Sha256 is a streaming context for one
// message (platform/sha256.h hashes files with it). On CPUs with the
// SHA extensions the compression runs on them, else on the portable code built for
// BMI2 when the CPU has it (chosen once per process); every path gives identical
// digests.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace korvel {

using Sha256Digest = std::array<std::uint8_t, 32>;

// Compresses `blocks` consecutive 64-byte blocks into `state`.
using Sha256Compress = void (*)(std::uint32_t state[8], std::uint8_t const* data, std::size_t blocks);

class Sha256 {
public:
    Sha256();
    // Uses the given compression function instead of the process-wide choice.
    explicit Sha256(Sha256Compress compress);

    // Throws "SHA-256 already finalized" after finalize(); length 0 does nothing at all.
    void update(void const* data, std::size_t length);

    // Pads, returns the digest and closes the context. A second call throws
    // "SHA-256 already finalized".
    Sha256Digest finalize();

private:
    std::uint64_t bit_count_ = 0;  // message bits in the blocks already compressed
    std::uint64_t buffered_ = 0;   // bytes waiting in block_
    std::array<std::uint8_t, 64> block_{};
    std::array<std::uint32_t, 8> state_;
    bool finalized_ = false;
    Sha256Compress compress_;
};

// 64 lower-case hexadecimal characters.
std::string to_hex(Sha256Digest const& digest);

// The SHA-256 of `bytes` as to_hex writes it, as manifests and version documents carry it.
std::string sha256_hex(std::string_view bytes);

namespace sha256_detail {
// The portable compression function; always available.
void compress_portable(std::uint32_t state[8], std::uint8_t const* data, std::size_t blocks);
// The portable code built for BMI2, or null when this CPU lacks BMI2.
Sha256Compress compress_bmi2();
// The SHA-extensions compression function, or null when this CPU lacks them.
Sha256Compress compress_accelerated();
// What Sha256() uses: the SHA extensions, else the BMI2 build, else the portable one.
Sha256Compress compress_default();
}  // namespace sha256_detail

}  // namespace korvel
