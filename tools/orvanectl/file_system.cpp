#include "orvanectl/file_system.h"

#include "core/paths.h"
#include "core/text.h"

#include <windows.h>

#include <atomic>
#include <fmt/xchar.h>
#include <utility>

namespace Orv::Publisher {
namespace {

// Below this length every file call takes the plain path (CreateDirectoryW stops at 248).
constexpr size_t kPlainPathLimit = 240;

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

std::wstring Quoted(const std::wstring& path) {
    return L"\"" + path + L"\"";
}

} // namespace

Outcome<std::wstring> AbsolutePath(const std::wstring& path) {
    if (path.empty()) {
        return Outcome<std::wstring>::Failure(L"An empty path was given");
    }
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0) {
            return Outcome<std::wstring>::Failure(
                fmt::format(L"The path {} is not valid: {}", Quoted(path), ErrorText(::GetLastError())));
        }
        if (length < full.size()) {
            full.resize(length);
            break;
        }
        full.resize(length);
    }
    // Keep the separator of a drive root ("C:\") and of the "\\?\" prefix.
    while (full.size() > 3 && IsSeparator(full.back())) {
        full.pop_back();
    }
    return Outcome<std::wstring>::Success(std::move(full));
}

std::wstring SystemPath(const std::wstring& absolute) {
    if (absolute.size() < kPlainPathLimit || absolute.starts_with(L"\\\\?\\")) {
        return absolute;
    }
    if (absolute.starts_with(L"\\\\")) {
        return L"\\\\?\\UNC\\" + absolute.substr(2);
    }
    return L"\\\\?\\" + absolute;
}

int CompareIgnoringCase(std::wstring_view a, std::wstring_view b) {
    const int result = ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                              static_cast<int>(b.size()), TRUE);
    return result - CSTR_EQUAL;
}

bool IsSameOrInside(const std::wstring& inner, const std::wstring& outer) {
    if (inner.size() < outer.size() ||
        CompareIgnoringCase(std::wstring_view(inner).substr(0, outer.size()), outer) != 0) {
        return false;
    }
    return inner.size() == outer.size() || IsSeparator(inner[outer.size()]) || IsSeparator(outer.back());
}

Outcome<Ok> MakeFolders(const std::wstring& absolute) {
    if (IsDirectory(SystemPath(absolute))) {
        return Success();
    }
    const std::wstring parent = ParentFolder(absolute);
    if (!parent.empty() && parent != absolute) {
        if (auto made = MakeFolders(parent); !made) {
            return made;
        }
    }
    if (!::CreateDirectoryW(SystemPath(absolute).c_str(), nullptr)) {
        const DWORD error = ::GetLastError();
        if (!IsDirectory(SystemPath(absolute))) {
            return Failure(
                fmt::format(L"Cannot create the folder {}: {}", Quoted(absolute), ErrorText(error)));
        }
    }
    return Success();
}

std::optional<uint64_t> RegularFileSize(const std::wstring& absolute) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(SystemPath(absolute).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return std::nullopt;
    }
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::wstring TemporaryName(const std::wstring& target) {
    static std::atomic<uint32_t> counter{0};
    return fmt::format(L"{}.{}-{}.tmp", target, ::GetCurrentProcessId(), counter++);
}

Outcome<InputFile> InputFile::Open(const std::wstring& absolute) {
    InputFile input;
    input.path_ = absolute;
    input.file_.Reset(::CreateFileW(SystemPath(absolute).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!input.file_) {
        return Outcome<InputFile>::Failure(
            fmt::format(L"Cannot read {}: {}", Quoted(absolute), ErrorText(::GetLastError())));
    }
    return Outcome<InputFile>::Success(std::move(input));
}

Outcome<size_t> InputFile::Read(unsigned char* buffer, size_t capacity) {
    DWORD read = 0;
    if (!::ReadFile(file_.Get(), buffer, static_cast<DWORD>(capacity), &read, nullptr)) {
        return Outcome<size_t>::Failure(
            fmt::format(L"Cannot read {}: {}", Quoted(path_), ErrorText(::GetLastError())));
    }
    return Outcome<size_t>::Success(read);
}

Outcome<Ok> InputFile::Seek(uint64_t offset) {
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(file_.Get(), position, nullptr, FILE_BEGIN)) {
        return Failure(fmt::format(L"Cannot read {}: {}", Quoted(path_), ErrorText(::GetLastError())));
    }
    return Success();
}

uint64_t InputFile::Size() const {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file_.Get(), &size)) {
        return 0;
    }
    return static_cast<uint64_t>(size.QuadPart);
}

Outcome<OutputFile> OutputFile::CreateBeside(const std::wstring& target) {
    OutputFile output;
    output.target_ = target;
    output.temporary_ = TemporaryName(target);
    output.file_.Reset(::CreateFileW(SystemPath(output.temporary_).c_str(), GENERIC_WRITE, 0, nullptr,
                                     CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!output.file_) {
        const DWORD error = ::GetLastError();
        output.temporary_.clear();
        return Outcome<OutputFile>::Failure(
            fmt::format(L"Cannot create a file beside {}: {}", Quoted(target), ErrorText(error)));
    }
    return Outcome<OutputFile>::Success(std::move(output));
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : file_(std::move(other.file_)), temporary_(std::exchange(other.temporary_, {})),
      target_(std::move(other.target_)), written_(other.written_) {}

OutputFile::~OutputFile() {
    file_.Reset();
    if (!temporary_.empty()) {
        ::DeleteFileW(SystemPath(temporary_).c_str());
    }
}

Outcome<Ok> OutputFile::Write(const void* data, size_t length) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (length > 0) {
        const DWORD part = length > 0x10000000U ? 0x10000000U : static_cast<DWORD>(length);
        DWORD done = 0;
        if (!::WriteFile(file_.Get(), bytes, part, &done, nullptr) || done == 0) {
            return Failure(
                fmt::format(L"Cannot write {}: {}", Quoted(temporary_), ErrorText(::GetLastError())));
        }
        bytes += done;
        length -= done;
        written_ += done;
    }
    return Success();
}

Outcome<Ok> OutputFile::Commit(bool replace, bool* targetExisted) {
    return CommitAs(target_, replace, targetExisted);
}

Outcome<Ok> OutputFile::CommitAs(const std::wstring& target, bool replace, bool* targetExisted) {
    target_ = target;
    if (targetExisted != nullptr) {
        *targetExisted = false;
    }
    if (!::FlushFileBuffers(file_.Get())) {
        return Failure(fmt::format(L"Cannot write {}: {}", Quoted(temporary_), ErrorText(::GetLastError())));
    }
    file_.Reset();
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!::MoveFileExW(SystemPath(temporary_).c_str(), SystemPath(target_).c_str(), flags)) {
        const DWORD error = ::GetLastError();
        if (!replace && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)) {
            // Written meanwhile by another publish; objects are named by their content.
            if (targetExisted != nullptr) {
                *targetExisted = true;
            }
            return Success();
        }
        return Failure(fmt::format(L"Cannot move {} into place: {}", Quoted(target_), ErrorText(error)));
    }
    temporary_.clear();
    return Success();
}

Outcome<Ok> ReplaceFileContents(const std::wstring& target, std::string_view bytes) {
    auto output = OutputFile::CreateBeside(target);
    if (!output) {
        return Failure(output.message);
    }
    if (auto written = output.value->Write(bytes.data(), bytes.size()); !written) {
        return written;
    }
    return output.value->Commit(true);
}

Outcome<std::string> ReadWholeFile(const std::wstring& absolute, size_t limit) {
    auto input = InputFile::Open(absolute);
    if (!input) {
        return Outcome<std::string>::Failure(input.message);
    }
    if (input.value->Size() > limit) {
        return Outcome<std::string>::Failure(
            fmt::format(L"{} is larger than {}", Quoted(absolute), SizeText(static_cast<uint64_t>(limit))));
    }
    std::string bytes;
    unsigned char buffer[65536];
    for (;;) {
        auto read = input.value->Read(buffer, sizeof buffer);
        if (!read) {
            return Outcome<std::string>::Failure(read.message);
        }
        if (*read.value == 0) {
            return Outcome<std::string>::Success(std::move(bytes));
        }
        if (bytes.size() + *read.value > limit) {
            return Outcome<std::string>::Failure(fmt::format(L"{} is larger than {}", Quoted(absolute),
                                                             SizeText(static_cast<uint64_t>(limit))));
        }
        bytes.append(reinterpret_cast<const char*>(buffer), *read.value);
    }
}

} // namespace Orv::Publisher
