#include "update/release_notes.h"

#include "core/handles.h"
#include "core/paths.h"
#include "core/text.h"

#include <windows.h>

#include <fmt/xchar.h>

#include <algorithm>

namespace Orv {
namespace {

using TextOutcome = Outcome<std::wstring>;

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

TextOutcome TooLong() {
    return TextOutcome::Failure(L"longer than 64 KiB");
}

} // namespace

TextOutcome NotesTextOf(std::string_view bytes) {
    if (bytes.size() > kNotesLimit) {
        return TooLong();
    }
    if (bytes.starts_with(kByteOrderMark)) {
        bytes.remove_prefix(kByteOrderMark.size());
    }
    if (!IsValidUtf8(bytes)) {
        return TextOutcome::Failure(L"not UTF-8 text");
    }
    // The window's text ends at a NUL: what follows it would never be seen.
    if (bytes.find('\0') != std::string_view::npos) {
        return TextOutcome::Failure(L"not text: it holds a NUL character");
    }
    const std::wstring wide = Utf8ToWide(bytes);
    std::wstring text;
    text.reserve(wide.size() + wide.size() / 16);
    for (size_t i = 0; i < wide.size(); ++i) {
        if (wide[i] == L'\r' || wide[i] == L'\n') {
            text += L"\r\n";
            if (wide[i] == L'\r' && i + 1 < wide.size() && wide[i + 1] == L'\n') {
                ++i;
            }
        } else {
            text += wide[i];
        }
    }
    return TextOutcome::Success(std::move(text));
}

TextOutcome ReadNotesFile(const std::wstring& path) {
    FileHandle file(::CreateFileW(LongPath(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = ::GetLastError();
        return TextOutcome::Failure(error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                                        ? std::wstring(L"missing")
                                        : fmt::format(L"cannot be read: {}", ErrorText(error)));
    }
    LARGE_INTEGER size{};
    if (::GetFileSizeEx(file.Get(), &size) && static_cast<uint64_t>(size.QuadPart) > kNotesLimit) {
        return TooLong();
    }
    // One byte beyond the limit tells a file that grew since its size was read.
    std::string bytes(kNotesLimit + 1, '\0');
    size_t filled = 0;
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file.Get(), bytes.data() + filled, static_cast<DWORD>(bytes.size() - filled), &read,
                        nullptr)) {
            return TextOutcome::Failure(fmt::format(L"cannot be read: {}", ErrorText(::GetLastError())));
        }
        filled += read;
        if (read == 0 || filled == bytes.size()) {
            break;
        }
    }
    bytes.resize(filled);
    return NotesTextOf(bytes);
}

TextOutcome ReleaseNotes(const Manifest& manifest, const std::wstring& gameFolder) {
    if (manifest.notes.empty()) {
        return TextOutcome::Success({});
    }
    const auto notShown = [&](const std::wstring& why) {
        return TextOutcome::Failure(
            fmt::format(L"notes: {} is not shown ({})", PrintablePath(manifest.notes), why));
    };
    if (const auto problem = ReleaseFileProblem(manifest, manifest.notes)) {
        return notShown(*problem);
    }
    std::wstring path = manifest.notes;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    TextOutcome text = ReadNotesFile(JoinPath(gameFolder, path));
    if (!text) {
        return notShown(text.message);
    }
    return text;
}

} // namespace Orv
