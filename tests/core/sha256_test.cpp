#include "core/sha256.h"

#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

using korvel::Sha256;
using korvel::to_hex;
namespace test = korvel::test;

namespace {

std::string hash_of(std::string const& message, korvel::Sha256Compress compress) {
    Sha256 hash(compress);
    hash.update(message.data(), message.size());
    return to_hex(hash.finalize());
}

struct Vector {
    std::string message;
    char const* digest;
};

// FIPS 180-4 examples and other published vectors.
std::vector<Vector> published_vectors() {
    return {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        {"The quick brown fox jumps over the lazy dog",
         "d7a8fbb307d7809469ca9abcb0082e4f8d5651e46d3cdb762d02d0bf37c9e592"},
    };
}

std::vector<korvel::Sha256Compress> implementations() {
    std::vector<korvel::Sha256Compress> all = {&korvel::sha256_detail::compress_portable};
    if (auto bmi2 = korvel::sha256_detail::compress_bmi2()) all.push_back(bmi2);
    if (auto accelerated = korvel::sha256_detail::compress_accelerated()) all.push_back(accelerated);
    return all;
}

}  // namespace

TEST(Sha256, PublishedVectorsOnEveryImplementation) {
    for (auto compress : implementations()) {
        for (auto const& v : published_vectors()) {
            SCOPED_TRACE(v.message.substr(0, 40));
            EXPECT_EQ(hash_of(v.message, compress), v.digest);
        }
    }
}

TEST(Sha256, EveryImplementationAgreesOnRandomLengthsAndSplits) {
    auto const all = implementations();
    if (all.size() < 2) GTEST_SKIP() << "this CPU has neither BMI2 nor the SHA extensions";
    std::string const data = test::random_bytes(20000, 42);
    std::mt19937 pick(7);
    for (int round = 0; round < 2000; ++round) {
        size_t const length = round < 300 ? round : pick() % data.size();
        std::string const message = data.substr(pick() % 64, length);
        std::string const expected = hash_of(message, &korvel::sha256_detail::compress_portable);
        for (size_t k = 1; k < all.size(); ++k) {
            // Feed the context in random pieces: buffering must not matter.
            Sha256 pieces(all[k]);
            size_t offset = 0;
            while (offset < message.size()) {
                size_t const n = std::min<size_t>(message.size() - offset, pick() % 200);
                pieces.update(message.data() + offset, n);
                offset += n;
            }
            ASSERT_EQ(to_hex(pieces.finalize()), expected) << "implementation " << k << ", length " << length;
        }
    }
}

TEST(Sha256, PaddingBoundariesMatchByteByByteFeeding) {
    // 55 bytes fit one block with the length; 56..63 need a second block.
    for (size_t length : {55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u}) {
        std::string const message = test::random_bytes(length, length);
        Sha256 one_by_one;
        for (char c : message) one_by_one.update(&c, 1);
        Sha256 at_once;
        at_once.update(message.data(), message.size());
        EXPECT_EQ(to_hex(one_by_one.finalize()), to_hex(at_once.finalize())) << length;
    }
    // Published: 56 bytes of 'a' and 64 bytes of 'a'.
    EXPECT_EQ(hash_of(std::string(56, 'a'), korvel::sha256_detail::compress_default()),
              "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a");
    EXPECT_EQ(hash_of(std::string(64, 'a'), korvel::sha256_detail::compress_default()),
              "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb");
}

TEST(Sha256, FinalizedContextOnlyThrows) {
    Sha256 hash;
    hash.update("abc", 3);
    hash.finalize();
    hash.update("", 0);  // length 0 does nothing, not even the check
    try {
        hash.update("x", 1);
        ADD_FAILURE() << "update after finalize";
    } catch (std::runtime_error const& e) {
        EXPECT_STREQ(e.what(), "SHA-256 already finalized");
    }
    EXPECT_THROW(hash.finalize(), std::runtime_error);
}
