#include "update/sha256.h"

#include "core/paths.h"
#include "core/handles.h"
#include "update/worker_buffers.h"

#include <windows.h>

#include <bcrypt.h>
#include <mutex>

namespace Orv {
namespace {

constexpr size_t kFileChunk = 262144;

// The provider lives until the process ends and is shared by every thread.
BCRYPT_ALG_HANDLE Provider() {
    static BCRYPT_ALG_HANDLE provider = [] {
        BCRYPT_ALG_HANDLE handle = nullptr;
        if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&handle, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
            return static_cast<BCRYPT_ALG_HANDLE>(nullptr);
        }
        return handle;
    }();
    return provider;
}

} // namespace

Sha256::Sha256() {
    BCRYPT_ALG_HANDLE provider = Provider();
    if (provider == nullptr) {
        return;
    }
    DWORD objectLength = 0;
    ULONG written = 0;
    if (!BCRYPT_SUCCESS(::BCryptGetProperty(provider, BCRYPT_OBJECT_LENGTH,
                                            reinterpret_cast<PUCHAR>(&objectLength), sizeof objectLength,
                                            &written, 0))) {
        return;
    }
    object_.resize(objectLength);
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (BCRYPT_SUCCESS(::BCryptCreateHash(provider, &hash, object_.data(), objectLength, nullptr, 0, 0))) {
        hash_ = hash;
    }
}

Sha256::~Sha256() {
    if (hash_ != nullptr) {
        ::BCryptDestroyHash(hash_);
    }
}

bool Sha256::Update(const void* data, size_t length) {
    if (hash_ == nullptr || failed_) {
        return false;
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (length > 0) {
        const ULONG part = length > 0x40000000U ? 0x40000000U : static_cast<ULONG>(length);
        if (!BCRYPT_SUCCESS(::BCryptHashData(hash_, const_cast<PUCHAR>(bytes), part, 0))) {
            failed_ = true;
            return false;
        }
        bytes += part;
        length -= part;
    }
    return true;
}

std::optional<std::string> Sha256::FinishBytes() {
    unsigned char digest[32] = {};
    if (hash_ == nullptr || failed_ || !BCRYPT_SUCCESS(::BCryptFinishHash(hash_, digest, sizeof digest, 0))) {
        return std::nullopt;
    }
    return std::string(reinterpret_cast<const char*>(digest), sizeof digest);
}

std::optional<std::string> Sha256::Finish() {
    const auto digest = FinishBytes();
    if (!digest) {
        return std::nullopt;
    }
    return HexDigest(reinterpret_cast<const unsigned char*>(digest->data()), digest->size());
}

std::optional<std::string> Sha256Hex(std::string_view bytes) {
    Sha256 hash;
    if (!hash.Update(bytes.data(), bytes.size())) {
        return std::nullopt;
    }
    return hash.Finish();
}

bool IsSha256Hex(std::string_view text) {
    return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

std::optional<std::string> Sha256Digest(std::string_view bytes) {
    Sha256 hash;
    if (!hash.Update(bytes.data(), bytes.size())) {
        return std::nullopt;
    }
    return hash.FinishBytes();
}

std::string HexDigest(const unsigned char* bytes, size_t length) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex(length * 2, '0');
    for (size_t i = 0; i < length; ++i) {
        hex[2 * i] = kDigits[bytes[i] >> 4];
        hex[2 * i + 1] = kDigits[bytes[i] & 0x0F];
    }
    return hex;
}

std::optional<std::string> Sha256OfFile(const std::wstring& path, std::stop_token stopToken,
                                        const std::function<void(uint64_t)>& onProgress) {
    FileHandle file(::CreateFileW(LongPath(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        return std::nullopt;
    }
    Sha256 hash;
    std::vector<unsigned char> fresh;
    std::vector<unsigned char>& buffer = BufferOf(&WorkerBuffers::hashing, fresh, kFileChunk);
    for (;;) {
        if (stopToken.stop_requested()) {
            return std::nullopt;
        }
        DWORD read = 0;
        if (!::ReadFile(file.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
            return std::nullopt;
        }
        if (read == 0) {
            return hash.Finish();
        }
        if (!hash.Update(buffer.data(), read)) {
            return std::nullopt;
        }
        if (onProgress) {
            onProgress(read);
        }
    }
}

} // namespace Orv
