// The SHA-256 compression functions: portable C++ (also built for BMI2) and the x86 SHA
// extensions.

#include "core/sha256.h"

#include <cpuid.h>
#include <immintrin.h>

namespace korvel::sha256_detail {

namespace {

constexpr std::uint32_t round_constants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

inline std::uint32_t rotr(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

inline std::uint32_t load_be32(std::uint8_t const* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

// Message word t: read from the block for the first 16 rounds, then expanded in a
// ring of 16 words.
inline std::uint32_t schedule(std::uint32_t w[16], std::uint8_t const* block, int t) {
    if (t < 16) return w[t] = load_be32(block + 4 * t);
    std::uint32_t const w15 = w[(t - 15) & 15], w2 = w[(t - 2) & 15];
    std::uint32_t const s0 = rotr(w15, 7) ^ rotr(w15, 18) ^ (w15 >> 3);
    std::uint32_t const s1 = rotr(w2, 17) ^ rotr(w2, 19) ^ (w2 >> 10);
    return w[t & 15] += s0 + w[(t - 7) & 15] + s1;
}

// One round: the new e is written into d and the new a into h. `bc` carries b ^ c,
// which is the previous round's a ^ b, so that the majority function costs one
// xor and one and: maj(a, b, c) = b ^ ((a ^ b) & (b ^ c)).
inline void round(std::uint32_t a, std::uint32_t b, std::uint32_t& d, std::uint32_t e,
                  std::uint32_t f, std::uint32_t g, std::uint32_t& h, int t, std::uint32_t w[16],
                  std::uint8_t const* block, std::uint32_t& bc) {
    std::uint32_t const t1 =
        h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + (g ^ (e & (f ^ g))) + round_constants[t] + schedule(w, block, t);
    d += t1;
    std::uint32_t const ab = a ^ b;
    h = t1 + (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + (b ^ (ab & bc));
    bc = ab;
}

bool cpu_has_sha_extensions() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    bool const ssse3 = (ecx & bit_SSSE3) != 0;
    bool const sse41 = (ecx & bit_SSE4_1) != 0;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
    bool const sha = (ebx & bit_SHA) != 0;
    return ssse3 && sse41 && sha;
}

__attribute__((target("sha,sse4.1,ssse3"))) void compress_sha_extensions(std::uint32_t state[8],
                                                                          std::uint8_t const* data,
                                                                          std::size_t blocks) {
    __m128i const byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);

    // The instructions keep the state as ABEF and CDGH.
    __m128i tmp = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<__m128i const*>(&state[0])), 0xB1);
    __m128i cdgh = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<__m128i const*>(&state[4])), 0x1B);
    __m128i abef = _mm_alignr_epi8(tmp, cdgh, 8);
    cdgh = _mm_blend_epi16(cdgh, tmp, 0xF0);

    while (blocks--) {
        __m128i const abef_saved = abef;
        __m128i const cdgh_saved = cdgh;
        __m128i w[4];

#pragma GCC unroll 16
        for (int group = 0; group < 16; ++group) {
            if (group < 4) {
                w[group] = _mm_shuffle_epi8(
                    _mm_loadu_si128(reinterpret_cast<__m128i const*>(data + 16 * group)), byte_swap);
            } else {
                // W[t..t+3] from W[t-16..t-1]: msg1 adds sigma0, alignr brings W[t-7], msg2 adds sigma1.
                __m128i const next = _mm_add_epi32(_mm_sha256msg1_epu32(w[group % 4], w[(group + 1) % 4]),
                                                   _mm_alignr_epi8(w[(group + 3) % 4], w[(group + 2) % 4], 4));
                w[group % 4] = _mm_sha256msg2_epu32(next, w[(group + 3) % 4]);
            }
            __m128i msg = _mm_add_epi32(
                w[group % 4], _mm_loadu_si128(reinterpret_cast<__m128i const*>(&round_constants[4 * group])));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, msg);
            msg = _mm_shuffle_epi32(msg, 0x0E);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, msg);
        }

        abef = _mm_add_epi32(abef, abef_saved);
        cdgh = _mm_add_epi32(cdgh, cdgh_saved);
        data += 64;
    }

    tmp = _mm_shuffle_epi32(abef, 0x1B);
    cdgh = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), _mm_blend_epi16(tmp, cdgh, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), _mm_alignr_epi8(cdgh, tmp, 8));
}

// The portable rounds, compiled twice: for any x86-64 CPU, and with BMI2, whose
// three-operand rotate saves a register copy for almost every rotation.
[[gnu::always_inline]] inline void compress_rounds(std::uint32_t state[8], std::uint8_t const* data,
                                                   std::size_t blocks) {
    while (blocks--) {
        std::uint32_t w[16];
        std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
        std::uint32_t bc = b ^ c;

        // Eight rounds per pass with the roles of the working variables rotated in the
        // calls, so that no value is copied from one variable to the next.
#pragma GCC unroll 8
        for (int t = 0; t < 64; t += 8) {
            round(a, b, d, e, f, g, h, t + 0, w, data, bc);
            round(h, a, c, d, e, f, g, t + 1, w, data, bc);
            round(g, h, b, c, d, e, f, t + 2, w, data, bc);
            round(f, g, a, b, c, d, e, t + 3, w, data, bc);
            round(e, f, h, a, b, c, d, t + 4, w, data, bc);
            round(d, e, g, h, a, b, c, t + 5, w, data, bc);
            round(c, d, f, g, h, a, b, t + 6, w, data, bc);
            round(b, c, e, f, g, h, a, t + 7, w, data, bc);
        }

        state[0] += a; state[1] += b; state[2] += c; state[3] += d;
        state[4] += e; state[5] += f; state[6] += g; state[7] += h;
        data += 64;
    }
}

bool cpu_has_bmi2() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    return __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) && (ebx & bit_BMI2) != 0;
}

[[gnu::target("bmi2")]] void compress_bmi2_rounds(std::uint32_t state[8], std::uint8_t const* data,
                                                  std::size_t blocks) {
    compress_rounds(state, data, blocks);
}

}  // namespace

void compress_portable(std::uint32_t state[8], std::uint8_t const* data, std::size_t blocks) {
    compress_rounds(state, data, blocks);
}

Sha256Compress compress_bmi2() {
    static bool const available = cpu_has_bmi2();
    return available ? &compress_bmi2_rounds : nullptr;
}

Sha256Compress compress_accelerated() {
    static bool const available = cpu_has_sha_extensions();
    return available ? &compress_sha_extensions : nullptr;
}

Sha256Compress compress_default() {
    static Sha256Compress const chosen = compress_accelerated() ? compress_accelerated()
                                         : compress_bmi2()      ? compress_bmi2()
                                                                : &compress_portable;
    return chosen;
}

}  // namespace korvel::sha256_detail
