#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace Orv {

// Incremental SHA-256 over the system's CNG provider (opened once per process and kept).
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    // False when the hash could not be created; Update and Finish then fail too.
    bool Valid() const { return hash_ != nullptr; }
    bool Update(const void* data, size_t length);
    // The digest as 64 lower-case hex digits; nothing when the hash failed.
    std::optional<std::string> Finish();
    // The digest as its 32 bytes; nothing when the hash failed.
    std::optional<std::string> FinishBytes();

private:
    void* hash_ = nullptr;
    std::vector<unsigned char> object_;
    bool failed_ = false;
};

// Bytes to lower-case hex, two digits per byte, high nibble first.
std::string HexDigest(const unsigned char* bytes, size_t length);

// The 32 bytes of the SHA-256 of the bytes; nothing when the hash failed.
std::optional<std::string> Sha256Digest(std::string_view bytes);
// The SHA-256 of the bytes as 64 lower-case hex digits; nothing when the hash failed.
std::optional<std::string> Sha256Hex(std::string_view bytes);

// True for a digest as Finish writes it: exactly 64 lower-case hex digits.
bool IsSha256Hex(std::string_view text);

// SHA-256 of a file, read in 1 MiB chunks with read, write and delete sharing; nothing when the
// file cannot be opened or read, or a stop is requested. onProgress gets each chunk's length.
std::optional<std::string> Sha256OfFile(const std::wstring& path, std::stop_token stopToken,
                                        const std::function<void(uint64_t)>& onProgress = {});

} // namespace Orv
