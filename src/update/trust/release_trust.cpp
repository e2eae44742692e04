#include "update/trust/release_trust.h"

#include "core/file_io.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/text.h"
#include "update/trust/release_floor.h"
#include "update/trust/release_signature.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <fmt/xchar.h>

namespace Orv {
namespace {

std::optional<int> Digits(std::wstring_view text, size_t start, size_t count) {
    int value = 0;
    for (size_t i = start; i < start + count; ++i) {
        if (text[i] < L'0' || text[i] > L'9') {
            return std::nullopt;
        }
        value = value * 10 + (text[i] - L'0');
    }
    return value;
}

uint64_t NowUtc() {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

} // namespace

std::optional<uint64_t> ParseUtcTime(std::wstring_view text) {
    // 0123456789012345678 9
    // YYYY-MM-DDTHH:MM:SS Z
    if (text.size() != 20 || text[4] != L'-' || text[7] != L'-' || text[10] != L'T' || text[13] != L':' ||
        text[16] != L':' || text[19] != L'Z') {
        return std::nullopt;
    }
    const auto year = Digits(text, 0, 4);
    const auto month = Digits(text, 5, 2);
    const auto day = Digits(text, 8, 2);
    const auto hour = Digits(text, 11, 2);
    const auto minute = Digits(text, 14, 2);
    const auto second = Digits(text, 17, 2);
    if (!year || !month || !day || !hour || !minute || !second || *hour > 23 || *minute > 59 ||
        *second > 59) {
        return std::nullopt;
    }
    SYSTEMTIME time{};
    time.wYear = static_cast<WORD>(*year);
    time.wMonth = static_cast<WORD>(*month);
    time.wDay = static_cast<WORD>(*day);
    time.wHour = static_cast<WORD>(*hour);
    time.wMinute = static_cast<WORD>(*minute);
    time.wSecond = static_cast<WORD>(*second);
    // The system refuses dates that do not exist (month 13, 30 February, ...).
    FILETIME file{};
    if (!::SystemTimeToFileTime(&time, &file)) {
        return std::nullopt;
    }
    SYSTEMTIME back{};
    if (!::FileTimeToSystemTime(&file, &back) || back.wDay != time.wDay || back.wMonth != time.wMonth) {
        return std::nullopt;
    }
    return (static_cast<uint64_t>(file.dwHighDateTime) << 32) | file.dwLowDateTime;
}

namespace {

// The release of the game folder's copy of the last manifest applied; a copy that cannot be read or
// parsed gives none, with a log line.
std::optional<int32_t> CopyFloor(const std::wstring& gameFolder) {
    const std::wstring copy = JoinPath(JoinPath(gameFolder, kDataFolderName), L"manifest.txt");
    const DWORD attributes = ::GetFileAttributesW(LongPath(copy).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            Log(fmt::format(L"release floor: {} cannot be read: {}; not counted", copy, ErrorText(error)));
        }
        return std::nullopt;
    }
    auto bytes = ReadFileBytes(copy);
    if (!bytes) {
        Log(fmt::format(L"release floor: {} cannot be read; not counted", copy));
        return std::nullopt;
    }
    const auto parsed = ParseManifest(std::move(*bytes));
    if (!parsed) {
        Log(fmt::format(L"release floor: {}: {}; not counted", copy, parsed.message));
        return std::nullopt;
    }
    return parsed.value->release;
}

} // namespace

ReleaseTrust TrustForRun(const std::string& publicKey, const std::wstring& gameFolder) {
    ReleaseTrust trust{publicKey, std::nullopt};
    if (publicKey.empty()) {
        return trust;
    }
    const auto copy = CopyFloor(gameFolder);
    const auto kept = ReadReleaseFloor(gameFolder);
    if (copy || kept) {
        trust.floorRelease = std::max(copy.value_or(INT32_MIN), kept.value_or(INT32_MIN));
    }
    return trust;
}

void KeepReleaseFloor(const std::string& publicKey, const std::wstring& gameFolder, int32_t release) {
    if (!publicKey.empty()) {
        RaiseReleaseFloor(gameFolder, release);
    }
}

std::optional<std::wstring> SignatureRefusal(std::string_view text, const ReleaseTrust& trust) {
    if (trust.publicKey.empty() || SignatureHolds(text, trust.publicKey)) {
        return std::nullopt;
    }
    return Pick(L"The release is not signed by the publisher.", L"Sürüm yayıncı tarafından imzalanmamış.");
}

std::optional<std::wstring> ReleaseRefusal(const Manifest& manifest, const ReleaseTrust& trust) {
    if (trust.publicKey.empty()) {
        return std::nullopt;
    }
    if (!manifest.expires.empty()) {
        // A time that cannot be read cannot show that the release is still valid.
        const auto expires = ParseUtcTime(manifest.expires);
        if (!expires) {
            return Pick(L"The release has expired.", L"Sürümün geçerlilik süresi dolmuş.");
        }
        if (NowUtc() >= *expires) {
            // A PC whose clock runs far ahead sees every release expired.
            return Pick(L"The release has expired, or this PC's date and time are wrong: check them in the "
                        L"Windows settings.",
                        L"Sürümün geçerlilik süresi dolmuş ya da bu bilgisayarın tarihi ve saati yanlış: "
                        L"Windows ayarlarından kontrol edin.");
        }
    }
    if (trust.floorRelease && manifest.release < *trust.floorRelease) {
        return Pick(L"The release is older than the installed one.", L"Sürüm kurulu olandan daha eski.");
    }
    return std::nullopt;
}

} // namespace Orv
