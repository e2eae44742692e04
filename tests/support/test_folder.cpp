#include "test_folder.h"

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace Orv::Support {

TempFolder::TempFolder(const std::wstring& prefix) {
    static std::atomic<unsigned> counter{0};
    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, temp);
    for (;;) {
        path_ = std::wstring(temp) + prefix + L"_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
                std::to_wstring(counter++) + L"_" + std::to_wstring(::GetTickCount64() % 100000);
        if (::CreateDirectoryW(path_.c_str(), nullptr)) {
            break;
        }
    }
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::wstring TempFolder::operator/(const std::wstring& relative) const {
    return path_ + L"\\" + relative;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFileOrEmpty(const std::wstring& path) {
    // Shared reading, so a file that a running program keeps open can be read.
    HANDLE file =
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (::ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) {
        bytes.append(buffer, read);
    }
    ::CloseHandle(file);
    return bytes;
}

void MakeDirectories(const std::wstring& path) {
    std::filesystem::create_directories(path);
}

bool Exists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring MissingDrive() {
    const DWORD drives = ::GetLogicalDrives();
    for (wchar_t letter = L'Y'; letter >= L'D'; --letter) {
        if ((drives & (1U << (letter - L'A'))) == 0) {
            return std::wstring(1, letter) + L":";
        }
    }
    return {};
}

std::wstring BinaryFolder() {
    wchar_t path[4096] = {};
    ::GetModuleFileNameW(nullptr, path, 4096);
    std::wstring text(path);
    return text.substr(0, text.find_last_of(L'\\'));
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= end) {
            return condition();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

LargestFileWatch::LargestFileWatch(std::vector<std::wstring> paths)
    : thread_([this, paths = std::move(paths)](std::stop_token stop) {
          while (!stop.stop_requested()) {
              for (const std::wstring& path : paths) {
                  WIN32_FILE_ATTRIBUTE_DATA data{};
                  if (::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
                      const uint64_t size =
                          (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
                      if (size > largest_.load()) {
                          largest_.store(size);
                      }
                  }
              }
              std::this_thread::sleep_for(std::chrono::milliseconds(2));
          }
      }) {}

} // namespace Orv::Support
