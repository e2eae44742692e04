#include "orvanectl/signing_key.h"

#include "core/base64.h"
#include "core/handles.h"
#include "core/text.h"
#include "orvanectl/file_system.h"
#include "update/trust/ecdsa_p256.h"
#include "update/trust/release_signature.h"
#include "update/sha256.h"

#include <windows.h>

#include <fmt/xchar.h>

#include <algorithm>

namespace Orv::Publisher {
namespace {

constexpr size_t kKeyFileLimit = 4096;

std::wstring NotAKeyFile(const std::wstring& path) {
    return fmt::format(L"\"{}\" is not a release signing key made by \"orvanectl keygen\"", path);
}

// The signature (r || s) of the digest. Some CNG versions report half the size when asked for it,
// so the buffer always has room for the whole signature.
Outcome<std::string> SignDigest(BCRYPT_KEY_HANDLE key, std::string digest) {
    ULONG size = 0;
    NTSTATUS status = ::BCryptSignHash(key, nullptr, reinterpret_cast<PUCHAR>(digest.data()),
                                       static_cast<ULONG>(digest.size()), nullptr, 0, &size, 0);
    if (!BCRYPT_SUCCESS(status)) {
        return Outcome<std::string>::Failure(fmt::format(L"Cannot sign: CNG status 0x{:08X}", status));
    }
    std::string signature(std::max<size_t>(size, kP256SignatureSize), '\0');
    status = ::BCryptSignHash(key, nullptr, reinterpret_cast<PUCHAR>(digest.data()),
                              static_cast<ULONG>(digest.size()), reinterpret_cast<PUCHAR>(signature.data()),
                              static_cast<ULONG>(signature.size()), &size, 0);
    if (!BCRYPT_SUCCESS(status) || size != kP256SignatureSize) {
        return Outcome<std::string>::Failure(
            fmt::format(L"Cannot sign: CNG status 0x{:08X}, {} bytes", status, size));
    }
    signature.resize(size);
    return Outcome<std::string>::Success(std::move(signature));
}

// The key of the private key's bytes, when its two halves belong together: a signature made with it
// holds under its public half.
Outcome<SigningKey> KeyOf(std::string privateKey, const std::wstring& path) {
    const BcryptKey key = ImportP256PrivateKey(privateKey);
    const BcryptKey publicKey =
        ImportP256PublicKey(std::string_view(privateKey).substr(0, kP256PublicKeySize));
    if (!key || !publicKey) {
        return Outcome<SigningKey>::Failure(NotAKeyFile(path));
    }
    const std::string probe(32, '\x5A');
    auto signature = SignDigest(key.Get(), probe);
    if (!signature || !VerifyP256(publicKey.Get(), probe, *signature.value)) {
        return Outcome<SigningKey>::Failure(NotAKeyFile(path));
    }
    SigningKey signing{std::move(privateKey), {}};
    signing.publicKey = Base64Encode(std::string_view(signing.privateKey).substr(0, kP256PublicKeySize));
    return Outcome<SigningKey>::Success(std::move(signing));
}

} // namespace

Outcome<SigningKey> MakeSigningKey(const std::wstring& privateKeyFile) {
    using Result = Outcome<SigningKey>;
    auto path = AbsolutePath(privateKeyFile);
    if (!path) {
        return Result::Failure(path.message);
    }
    BCRYPT_ALG_HANDLE provider = EcdsaP256Provider();
    BCRYPT_KEY_HANDLE made = nullptr;
    if (provider == nullptr || !BCRYPT_SUCCESS(::BCryptGenerateKeyPair(provider, &made, 256, 0))) {
        return Result::Failure(L"Cannot make an ECDSA P-256 key: the system's CNG provider refused");
    }
    const BcryptKey key(made);
    ULONG size = 0;
    if (!BCRYPT_SUCCESS(::BCryptFinalizeKeyPair(key.Get(), 0)) ||
        !BCRYPT_SUCCESS(
            ::BCryptExportKey(key.Get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, nullptr, 0, &size, 0))) {
        return Result::Failure(L"Cannot make an ECDSA P-256 key: the system's CNG provider refused");
    }
    std::string blob(size, '\0');
    if (!BCRYPT_SUCCESS(::BCryptExportKey(key.Get(), nullptr, BCRYPT_ECCPRIVATE_BLOB,
                                          reinterpret_cast<PUCHAR>(blob.data()), size, &size, 0)) ||
        size != sizeof(BCRYPT_ECCKEY_BLOB) + kP256PrivateKeySize) {
        return Result::Failure(L"Cannot export the new key: the system's CNG provider refused");
    }
    auto signing = KeyOf(blob.substr(sizeof(BCRYPT_ECCKEY_BLOB), kP256PrivateKeySize), *path.value);
    if (!signing) {
        return signing;
    }
    const std::string text =
        fmt::format("{}\n{}\n", kSigningKeyHeader, Base64Encode(signing.value->privateKey));
    FileHandle file(::CreateFileW(SystemPath(*path.value).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = ::GetLastError();
        return Result::Failure(
            error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS
                ? fmt::format(L"\"{}\" already exists; a key file is never overwritten", *path.value)
                : fmt::format(L"Cannot create \"{}\": {}", *path.value, ErrorText(error)));
    }
    DWORD written = 0;
    if (!::WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size() || !::FlushFileBuffers(file.Get())) {
        const DWORD error = ::GetLastError();
        file.Reset();
        ::DeleteFileW(SystemPath(*path.value).c_str());
        return Result::Failure(fmt::format(L"Cannot write \"{}\": {}", *path.value, ErrorText(error)));
    }
    return signing;
}

Outcome<SigningKey> ReadSigningKey(const std::wstring& privateKeyFile) {
    using Result = Outcome<SigningKey>;
    auto path = AbsolutePath(privateKeyFile);
    if (!path) {
        return Result::Failure(path.message);
    }
    auto text = ReadWholeFile(*path.value, kKeyFileLimit);
    if (!text) {
        return Result::Failure(text.message);
    }
    std::string_view rest(*text.value);
    std::string_view lines[2];
    for (std::string_view& line : lines) {
        const size_t end = rest.find('\n');
        line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
    }
    const auto privateKey = Base64Decode(lines[1]);
    if (lines[0] != kSigningKeyHeader || !rest.empty() || !privateKey ||
        privateKey->size() != kP256PrivateKeySize) {
        return Result::Failure(NotAKeyFile(*path.value));
    }
    return KeyOf(*privateKey, *path.value);
}

Outcome<std::string> SignManifestText(std::string_view text, const SigningKey& key) {
    std::string signedText(UnsignedPart(text));
    if (!signedText.empty() && signedText.back() != '\n') {
        signedText.push_back('\n');
    }
    const BcryptKey privateKey = ImportP256PrivateKey(key.privateKey);
    const auto digest = Sha256Digest(signedText);
    if (!privateKey || !digest) {
        return Outcome<std::string>::Failure(L"Cannot sign: the system's CNG provider refused the key");
    }
    auto signature = SignDigest(privateKey.Get(), *digest);
    if (!signature) {
        return signature;
    }
    signedText += kSignatureLineStart;
    signedText += Base64Encode(*signature.value);
    signedText += '\n';
    return Outcome<std::string>::Success(std::move(signedText));
}

} // namespace Orv::Publisher
