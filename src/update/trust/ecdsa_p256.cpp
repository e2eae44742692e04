#include "update/trust/ecdsa_p256.h"

#include <string>

namespace Orv {
namespace {

BcryptKey ImportBlob(std::string_view key, size_t size, ULONG magic, const wchar_t* blobType) {
    BCRYPT_ALG_HANDLE provider = EcdsaP256Provider();
    if (provider == nullptr || key.size() != size) {
        return {};
    }
    BCRYPT_ECCKEY_BLOB header{magic, static_cast<ULONG>(kP256CoordinateSize)};
    std::string blob(reinterpret_cast<const char*>(&header), sizeof header);
    blob.append(key);
    BCRYPT_KEY_HANDLE handle = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptImportKeyPair(provider, nullptr, blobType, &handle,
                                              reinterpret_cast<PUCHAR>(blob.data()),
                                              static_cast<ULONG>(blob.size()), 0))) {
        return {};
    }
    return BcryptKey(handle);
}

} // namespace

BCRYPT_ALG_HANDLE EcdsaP256Provider() {
    static BCRYPT_ALG_HANDLE provider = [] {
        BCRYPT_ALG_HANDLE handle = nullptr;
        if (!BCRYPT_SUCCESS(
                ::BCryptOpenAlgorithmProvider(&handle, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) {
            return static_cast<BCRYPT_ALG_HANDLE>(nullptr);
        }
        return handle;
    }();
    return provider;
}

BcryptKey ImportP256PublicKey(std::string_view key) {
    return ImportBlob(key, kP256PublicKeySize, BCRYPT_ECDSA_PUBLIC_P256_MAGIC, BCRYPT_ECCPUBLIC_BLOB);
}

BcryptKey ImportP256PrivateKey(std::string_view key) {
    return ImportBlob(key, kP256PrivateKeySize, BCRYPT_ECDSA_PRIVATE_P256_MAGIC, BCRYPT_ECCPRIVATE_BLOB);
}

bool VerifyP256(BCRYPT_KEY_HANDLE key, std::string_view digest, std::string_view signature) {
    if (key == nullptr || signature.size() != kP256SignatureSize) {
        return false;
    }
    std::string digestCopy(digest);
    std::string signatureCopy(signature);
    return BCRYPT_SUCCESS(::BCryptVerifySignature(
        key, nullptr, reinterpret_cast<PUCHAR>(digestCopy.data()), static_cast<ULONG>(digestCopy.size()),
        reinterpret_cast<PUCHAR>(signatureCopy.data()), static_cast<ULONG>(signatureCopy.size()), 0));
}

} // namespace Orv
