#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace Orv::Support {

// A fresh folder under the temporary folder, removed with everything in it at the end.
class TempFolder {
public:
    explicit TempFolder(const std::wstring& prefix = L"orv");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::wstring& Path() const { return path_; }
    std::wstring operator/(const std::wstring& relative) const;

private:
    std::wstring path_;
};

void WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::string ReadFileOrEmpty(const std::wstring& path);
void MakeDirectories(const std::wstring& path);
bool Exists(const std::wstring& path);

// A drive letter that names no drive here, with its colon; empty when every letter is taken.
std::wstring MissingDrive();

// Folder of the running test executable (where the built programs lie too).
std::wstring BinaryFolder();

// Polls the condition every 50 ms until it holds or the time is up; returns its last value.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit);

// Watches, from its making to its end, the size of the largest of the files (each may come and go).
// Files are asked one by one and never held open, so the folders stay free to change.
class LargestFileWatch {
public:
    explicit LargestFileWatch(std::vector<std::wstring> paths);
    uint64_t Largest() const { return largest_.load(); }

private:
    std::atomic<uint64_t> largest_{0};
    std::jthread thread_;
};

} // namespace Orv::Support
