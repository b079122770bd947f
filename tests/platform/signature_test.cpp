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

std::string const public_key = unhex(
    "0445e8760113b008a99a87407c37b58c9143bf66c962e9048b5ddbc799a11fbb45"
    "a7b3b963f03d265edfe27bafe5c6426729c165c22c19d9ede97e059de9c1a289");
std::string const signature = unhex(
    "abbad791a58a6a07f29a3ceaaab5016c9ccd0013072c59fc72c2c6c9daf16ab4"
    "c11d0b3b363fa25a3972417b5d62f0aeea30ca325a17e381499926a522949e96");

korvel::Sha256Digest message_digest() {
    std::string const bytes = unhex("25d0898bbb5f17660c4a1c464626699a889e54bcec04c438dbab809b8d79b916");
    korvel::Sha256Digest digest{};
    std::copy(bytes.begin(), bytes.end(), digest.begin());
    return digest;
}

}  // namespace

TEST(Base64, DecodesOnlyStrictBase64) {
    struct Case {
        char const* text;
        std::optional<std::string> bytes;
    } const cases[] = {
        {"", std::string()},
        {"TWFu", std::string("Man")},
        {"TWE=", std::string("Ma")},
        {"TQ==", std::string("M")},
        {"AP8+/w==", std::string("\x00\xff\x3e\xff", 4)},
        {"TWF", std::nullopt},       // not a multiple of four
        {"TQ=", std::nullopt},
        {"T===", std::nullopt},      // three pads
        {"TW=u", std::nullopt},      // pad inside
        {"TW Fu", std::nullopt},     // space
        {"TWFu\r\n", std::nullopt},  // line break
        {"TW-_", std::nullopt},      // URL alphabet
    };
    for (auto const& c : cases) EXPECT_EQ(base64_decode(c.text), c.bytes) << c.text;
}

TEST(EcdsaP256, VerifiesOnlyTheSignedDigestUnderItsKey) {
    korvel::Sha256Digest const digest = message_digest();
    EXPECT_TRUE(korvel::ecdsa_p256_verify(public_key, digest, signature));

    korvel::Sha256Digest other_digest = digest;
    other_digest[31] ^= 1;
    std::string other_signature = signature;
    other_signature[40] ^= 0x10;
    std::string off_curve = public_key;
    off_curve[64] ^= 1;
    std::string compressed = public_key;
    compressed[0] = '\x02';
    EXPECT_FALSE(korvel::ecdsa_p256_verify(public_key, other_digest, signature));
    EXPECT_FALSE(korvel::ecdsa_p256_verify(public_key, digest, other_signature));
    EXPECT_FALSE(korvel::ecdsa_p256_verify(public_key, digest, signature.substr(0, 63)));
    EXPECT_FALSE(korvel::ecdsa_p256_verify(public_key, digest, signature + '\0'));
    EXPECT_FALSE(korvel::ecdsa_p256_verify(off_curve, digest, signature));
    EXPECT_FALSE(korvel::ecdsa_p256_verify(compressed, digest, signature));
    EXPECT_FALSE(korvel::ecdsa_p256_verify(public_key.substr(1), digest, signature));
}
