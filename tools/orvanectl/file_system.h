#pragma once
#include "core/handles.h"
#include "core/outcome.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// File system helpers of the publisher. Paths are absolute (see AbsolutePath); each call turns them
// into the form the system takes (SystemPath), so deep game folders work past MAX_PATH.
namespace Orv::Publisher {

// The absolute form of the path (a relative one is taken from the current folder), without a
// trailing separator unless it is a drive root.
Outcome<std::wstring> AbsolutePath(const std::wstring& path);

// The path as the wide file calls take it: with the "\\?\" prefix when it is long.
std::wstring SystemPath(const std::wstring& absolute);

// True when `inner` is `outer` itself or lies below it (compared ignoring case).
bool IsSameOrInside(const std::wstring& inner, const std::wstring& outer);

// Ordinal comparison ignoring case, as the file system compares names: <0, 0 or >0.
int CompareIgnoringCase(std::wstring_view a, std::wstring_view b);

// Creates the folder and the missing folders above it.
Outcome<Ok> MakeFolders(const std::wstring& absolute);

// The size of a regular file; nothing when there is none at the path.
std::optional<uint64_t> RegularFileSize(const std::wstring& absolute);

// A name beside `target` that no other writer uses: "<target>.<process id>-<counter>.tmp".
std::wstring TemporaryName(const std::wstring& target);

// A file opened for sequential reading, sharing read, write and delete access with others.
class InputFile {
public:
    static Outcome<InputFile> Open(const std::wstring& absolute);
    // Reads up to `capacity` bytes; 0 at the end of the file.
    Outcome<size_t> Read(unsigned char* buffer, size_t capacity);
    // Moves the read position to the offset from the start.
    Outcome<Ok> Seek(uint64_t offset);
    uint64_t Size() const;
    const std::wstring& Path() const { return path_; }

private:
    FileHandle file_;
    std::wstring path_;
};

// A file created for writing that is deleted again unless Commit renames it into place.
class OutputFile {
public:
    // Creates a new file under a temporary name beside `target`.
    static Outcome<OutputFile> CreateBeside(const std::wstring& target);
    OutputFile(OutputFile&& other) noexcept;
    OutputFile& operator=(OutputFile&&) = delete;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    Outcome<Ok> Write(const void* data, size_t length);
    uint64_t Written() const { return written_; }
    // Flushes, closes and renames the file to the target. With `replace`, an existing target is
    // replaced; without it an existing target stays and `targetExisted` tells so.
    Outcome<Ok> Commit(bool replace, bool* targetExisted = nullptr);
    // The same with another target, for a file whose name follows from what was written (a pack is
    // named by the SHA-256 of its bytes). The target must lie on the temporary file's volume.
    Outcome<Ok> CommitAs(const std::wstring& target, bool replace, bool* targetExisted = nullptr);

private:
    OutputFile() = default;
    FileHandle file_;
    std::wstring temporary_;
    std::wstring target_;
    uint64_t written_ = 0;
};

// Writes the bytes to a temporary file beside the target and renames it over the target, so a
// reader sees either the old or the new file, never a part.
Outcome<Ok> ReplaceFileContents(const std::wstring& target, std::string_view bytes);

// Reads a whole file of at most `limit` bytes.
Outcome<std::string> ReadWholeFile(const std::wstring& absolute, size_t limit);

} // namespace Orv::Publisher
