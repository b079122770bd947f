// Release keys and signatures of the Linux tool, with OpenSSL's libcrypto.
#include "publisher/release_signing.h"

#include "publisher/host.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>

namespace korvel {

namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using PkeyContext = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using EcdsaSig = std::unique_ptr<ECDSA_SIG, Deleter<ECDSA_SIG, ECDSA_SIG_free>>;
void free_bio(BIO* b) { BIO_free(b); }
using Bio = std::unique_ptr<BIO, Deleter<BIO, free_bio>>;

constexpr std::size_t coordinate_size = 32;

// The DER SubjectPublicKeyInfo of a P-256 key up to its 65-byte point.
constexpr unsigned char p256_spki_prefix[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48,
                                              0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                              0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00};

std::string base64_encode(std::string_view bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    int const n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<unsigned char const*>(bytes.data()), static_cast<int>(bytes.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

// Strict base64 (alphabet, padding only at the end); EVP_DecodeBlock alone skips spaces.
std::optional<std::string> base64_decode(std::string_view text) {
    std::size_t const body = text.find_last_not_of('=') + 1;
    std::size_t const pads = text.size() - body;
    auto const alphabet = [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
    };
    if (text.size() % 4 != 0 || pads > 2 || !std::all_of(text.begin(), text.begin() + std::ptrdiff_t(body), alphabet))
        return std::nullopt;
    std::string out(text.size() / 4 * 3, '\0');
    if (EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()), reinterpret_cast<unsigned char const*>(text.data()),
                        static_cast<int>(text.size())) < 0)
        return std::nullopt;
    out.resize(out.size() - pads);
    return out;
}

std::string public_point(EVP_PKEY* key) {
    unsigned char* point = nullptr;
    std::size_t const size = EVP_PKEY_get1_encoded_public_key(key, &point);
    std::string const bytes(reinterpret_cast<char const*>(point), size);
    OPENSSL_free(point);
    return bytes;
}

Pkey read_p256_key(std::string const& pem) {
    Bio const bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    Pkey key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    char group[64] = {};
    if (key && EVP_PKEY_get_base_id(key.get()) == EVP_PKEY_EC &&
        EVP_PKEY_get_utf8_string_param(key.get(), "group", group, sizeof group, nullptr) == 1 &&
        std::string_view(group) == "prime256v1")
        return key;
    ERR_clear_error();
    return nullptr;
}

}  // namespace

std::string generate_release_key(std::filesystem::path const& key_file) {
    Pkey const key(EVP_EC_gen("P-256"));
    if (!key) throw std::runtime_error("Cannot make a P-256 key");
    // O_EXCL: a key that exists is never replaced, whatever it holds.
    int const fd = ::open(key_file.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0) throw std::runtime_error("Cannot create " + path_text(key_file) + " (an existing key file is never replaced)");
    FILE* const file = ::fdopen(fd, "w");
    bool const written = file && PEM_write_PrivateKey(file, key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1 &&
                         std::fflush(file) == 0 && ::fsync(fd) == 0;
    bool const closed = file ? std::fclose(file) == 0 : ::close(fd) == 0;
    if (!written || !closed) {
        ::unlink(key_file.c_str());  // a cut key is no key, and must not block the next try
        throw std::runtime_error("Cannot write " + path_text(key_file));
    }
    return base64_encode(public_point(key.get()));
}

ReleaseKey::ReleaseKey(std::filesystem::path const& key_file) {
    FILE* const file = std::fopen(key_file.c_str(), "r");
    if (file) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) pem_.append(buffer, n);
        std::fclose(file);
    }
    if (!file || !read_p256_key(pem_)) throw std::invalid_argument("Not a P-256 private key: " + path_text(key_file));
}

std::string ReleaseKey::sign(Sha256Digest const& digest) const {
    Pkey const key = read_p256_key(pem_);
    PkeyContext const context(key ? EVP_PKEY_CTX_new(key.get(), nullptr) : nullptr);
    unsigned char der[128];
    std::size_t der_size = sizeof der;
    if (!context || EVP_PKEY_sign_init(context.get()) != 1 ||
        EVP_PKEY_CTX_set_signature_md(context.get(), EVP_sha256()) != 1 ||
        EVP_PKEY_sign(context.get(), der, &der_size, digest.data(), digest.size()) != 1)
        throw std::runtime_error("Cannot sign the release");
    unsigned char const* cursor = der;
    EcdsaSig const signature(d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(der_size)));
    if (!signature) throw std::runtime_error("Cannot sign the release");
    unsigned char raw[2 * coordinate_size];
    BN_bn2binpad(ECDSA_SIG_get0_r(signature.get()), raw, coordinate_size);
    BN_bn2binpad(ECDSA_SIG_get0_s(signature.get()), raw + coordinate_size, coordinate_size);
    return base64_encode(std::string_view(reinterpret_cast<char const*>(raw), sizeof raw));
}

std::string ReleaseKey::public_key() const {
    Pkey const key = read_p256_key(pem_);
    if (!key) throw std::runtime_error("Cannot read the release key");
    return base64_encode(public_point(key.get()));
}

bool verify_release_signature(std::string_view public_key, Sha256Digest const& digest, std::string_view signature) {
    std::optional<std::string> const point = base64_decode(public_key);
    std::optional<std::string> const raw = base64_decode(signature);
    if (!point || point->size() != 1 + 2 * coordinate_size || !raw || raw->size() != 2 * coordinate_size) return false;

    std::string spki(reinterpret_cast<char const*>(p256_spki_prefix), sizeof p256_spki_prefix);
    spki += *point;
    unsigned char const* cursor = reinterpret_cast<unsigned char const*>(spki.data());
    Pkey const key(d2i_PUBKEY(nullptr, &cursor, static_cast<long>(spki.size())));
    EcdsaSig const parts(ECDSA_SIG_new());
    auto const* bytes = reinterpret_cast<unsigned char const*>(raw->data());
    BIGNUM* r = BN_bin2bn(bytes, coordinate_size, nullptr);
    BIGNUM* s = BN_bin2bn(bytes + coordinate_size, coordinate_size, nullptr);
    if (!key || !parts || !r || !s || ECDSA_SIG_set0(parts.get(), r, s) != 1) {
        BN_free(r);
        BN_free(s);
        ERR_clear_error();
        return false;
    }
    unsigned char* der = nullptr;
    int const der_size = i2d_ECDSA_SIG(parts.get(), &der);
    PkeyContext const context(EVP_PKEY_CTX_new(key.get(), nullptr));
    bool const valid = der_size > 0 && context && EVP_PKEY_verify_init(context.get()) == 1 &&
                       EVP_PKEY_CTX_set_signature_md(context.get(), EVP_sha256()) == 1 &&
                       EVP_PKEY_verify(context.get(), der, std::size_t(der_size), digest.data(), digest.size()) == 1;
    OPENSSL_free(der);
    ERR_clear_error();
    return valid;
}

}  // namespace korvel
