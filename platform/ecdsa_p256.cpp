#include "platform/ecdsa_p256.h"

#include "platform/unique_handle.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace korvel {

namespace {

void close_algorithm(BCRYPT_ALG_HANDLE h) noexcept { ::BCryptCloseAlgorithmProvider(h, 0); }
void destroy_key(BCRYPT_KEY_HANDLE h) noexcept { ::BCryptDestroyKey(h); }

using UniqueAlgorithm = UniqueHandle<BCRYPT_ALG_HANDLE, NullIsInvalid<BCRYPT_ALG_HANDLE, close_algorithm>>;
using UniqueKey = UniqueHandle<BCRYPT_KEY_HANDLE, NullIsInvalid<BCRYPT_KEY_HANDLE, destroy_key>>;

constexpr std::size_t coordinate_size = 32;

}  // namespace

bool ecdsa_p256_verify(std::string_view public_key, Sha256Digest const& digest, std::string_view signature) {
    if (public_key.size() != 1 + 2 * coordinate_size || public_key[0] != '\x04') return false;
    if (signature.size() != 2 * coordinate_size) return false;

    UniqueAlgorithm algorithm;
    if (NTSTATUS const status = ::BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0);
        status != 0) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(status));
        throw std::runtime_error(std::string("Cannot open the ECDSA P-256 provider | NTSTATUS=") + code);
    }

    // BCRYPT_ECCPUBLIC_BLOB: the header, then X and Y without the 0x04 prefix.
    std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 2 * coordinate_size);
    BCRYPT_ECCKEY_BLOB const header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, coordinate_size};
    std::memcpy(blob.data(), &header, sizeof header);
    std::memcpy(blob.data() + sizeof header, public_key.data() + 1, 2 * coordinate_size);
    UniqueKey key;
    if (::BCryptImportKeyPair(algorithm.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, key.put(), blob.data(),
                              static_cast<ULONG>(blob.size()), 0) != 0)
        return false;

    std::vector<UCHAR> hash(digest.begin(), digest.end());
    std::vector<UCHAR> raw(signature.begin(), signature.end());
    return ::BCryptVerifySignature(key.get(), nullptr, hash.data(), static_cast<ULONG>(hash.size()), raw.data(),
                                   static_cast<ULONG>(raw.size()), 0) == 0;
}

}  // namespace korvel
