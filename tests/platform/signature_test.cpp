// Base64 decoding and ECDSA P-256 verification through the system (crypt32, CNG), against
// a signature that OpenSSL made over SHA-256("Korvel2 release").

#include "platform/base64.h"
#include "platform/ecdsa_p256.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using korvel::base64_decode;

namespace {

std::string unhex(std::string_view hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return bytes;
}

}  // namespace

TEST(Base64, DecodesOnlyStrictBase64) {
    std::pair<char const*, std::optional<std::string>> const cases[] = {
        {"", ""}, {"TWFu", "Man"}, {"TWE=", "Ma"}, {"TQ==", "M"}, {"AP8+/w==", std::string("\0\xff\x3e\xff", 4)},
        {"TWF", std::nullopt},        {"T===", std::nullopt},  {"TW=u", std::nullopt},
        {"TWFu\r\n", std::nullopt},   {"TW Fu", std::nullopt}, {"TW-_", std::nullopt},
    };
    for (auto const& [text, bytes] : cases) EXPECT_EQ(base64_decode(text), bytes) << text;
}

TEST(EcdsaP256, VerifiesOnlyTheSignedDigestUnderItsKey) {
    std::string const key = unhex(
        "0445e8760113b008a99a87407c37b58c9143bf66c962e9048b5ddbc799a11fbb45"
        "a7b3b963f03d265edfe27bafe5c6426729c165c22c19d9ede97e059de9c1a289");
    std::string const signature = unhex(
        "abbad791a58a6a07f29a3ceaaab5016c9ccd0013072c59fc72c2c6c9daf16ab4"
        "c11d0b3b363fa25a3972417b5d62f0aeea30ca325a17e381499926a522949e96");
    std::string const hash = unhex("25d0898bbb5f17660c4a1c464626699a889e54bcec04c438dbab809b8d79b916");
    korvel::Sha256Digest digest{};
    std::copy(hash.begin(), hash.end(), digest.begin());
    EXPECT_TRUE(korvel::ecdsa_p256_verify(key, digest, signature));

    korvel::Sha256Digest other_digest = digest;
    other_digest[31] ^= 1;
    EXPECT_FALSE(korvel::ecdsa_p256_verify(key, other_digest, signature));
    for (std::size_t at : {0u, 40u, 63u}) {
        std::string changed = signature;
        changed[at] ^= 0x10;
        EXPECT_FALSE(korvel::ecdsa_p256_verify(key, digest, changed)) << at;
    }
    EXPECT_FALSE(korvel::ecdsa_p256_verify(key, digest, signature.substr(0, 63)));
    EXPECT_FALSE(korvel::ecdsa_p256_verify(key.substr(1), digest, signature));
    std::string off_curve = key;
    off_curve[64] ^= 1;
    EXPECT_FALSE(korvel::ecdsa_p256_verify(off_curve, digest, signature));
}
