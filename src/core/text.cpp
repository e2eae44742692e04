#include "core/text.h"

#include "core/handles.h"

#include <windows.h>

#include <atomic>
#include <fmt/xchar.h>

namespace Orv {
namespace {

// Set before the entry point runs, from the primary language of the user's UI language.
std::atomic<bool> turkishFlag{(::GetUserDefaultUILanguage() & 0x3FF) == LANG_TURKISH};

// Words for the WinHTTP errors a download meets, for systems whose winhttp.dll carries no message
// texts (Wine's does not).
const wchar_t* WinHttpWords(uint32_t code) {
    switch (code) {
    case 12002:
        return L"The operation timed out.";
    case 12004:
        return L"An internal error occurred in WinHTTP.";
    case 12005:
        return L"The URL is not valid.";
    case 12006:
        return L"The URL does not use a recognized protocol (only http:// and https:// are).";
    case 12007:
        return L"The server name could not be resolved.";
    case 12017:
        return L"The operation was cancelled.";
    case 12029:
        return L"A connection with the server could not be established.";
    case 12030:
        return L"The connection with the server was ended.";
    case 12037:
        return L"The server's certificate has expired or is not yet valid.";
    case 12038:
        return L"The server's certificate is for another name.";
    case 12044:
        return L"The server asks for a client certificate.";
    case 12045:
        return L"The server's certificate was issued by an authority that is not trusted.";
    case 12057:
        return L"The revocation of the server's certificate could not be checked.";
    case 12152:
        return L"The server's response is not valid.";
    case 12156:
        return L"The redirection failed.";
    case 12157:
        return L"The secure channel failed.";
    case 12169:
        return L"The server's certificate is not valid.";
    case 12170:
        return L"The server's certificate has been revoked.";
    case 12175:
        return L"A security error occurred on the secure connection.";
    case 12181:
    case 12182:
    case 12183:
    case 12184:
        return L"The server's response is too large.";
    default:
        return nullptr;
    }
}

} // namespace

bool IsTurkish() {
    return turkishFlag.load();
}

void SetTurkish(bool turkish) {
    turkishFlag.exchange(turkish);
}

std::wstring Utf8ToWide(const char* bytes, size_t length) {
    if (length == 0) {
        return {};
    }
    const int inLength = static_cast<int>(length);
    const int needed = ::MultiByteToWideChar(CP_UTF8, 0, bytes, inLength, nullptr, 0);
    if (needed <= 0) {
        return {};
    }
    std::wstring result(static_cast<size_t>(needed), L'\0');
    if (::MultiByteToWideChar(CP_UTF8, 0, bytes, inLength, result.data(), needed) != needed) {
        return {};
    }
    return result;
}

std::string WideToUtf8(const wchar_t* text, size_t length) {
    if (length == 0) {
        return {};
    }
    const int inLength = static_cast<int>(length);
    const int needed = ::WideCharToMultiByte(CP_UTF8, 0, text, inLength, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
        return {};
    }
    std::string result(static_cast<size_t>(needed), '\0');
    if (::WideCharToMultiByte(CP_UTF8, 0, text, inLength, result.data(), needed, nullptr, nullptr) !=
        needed) {
        return {};
    }
    return result;
}

bool IsValidUtf8(std::string_view bytes) {
    size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        size_t length = 0;
        uint32_t value = 0;
        uint32_t smallest = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        }
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            value = lead & 0x1FU;
            smallest = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            value = lead & 0x0FU;
            smallest = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            value = lead & 0x07U;
            smallest = 0x10000;
        } else {
            return false;
        }
        if (bytes.size() - i < length) {
            return false;
        }
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0U) != 0x80U) {
                return false;
            }
            value = (value << 6) | (next & 0x3FU);
        }
        if (value < smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

std::optional<uint64_t> ReadPlainDecimal(std::string_view text, uint64_t most) {
    if (text.empty() || text.size() > 19 || (text.size() > 1 && text.front() == '0')) {
        return std::nullopt;
    }
    uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value <= most ? std::optional<uint64_t>(value) : std::nullopt;
}

std::wstring SizeText(uint64_t bytes) {
    const double n = static_cast<double>(bytes);
    if (bytes < 1024ULL) {
        return fmt::format(L"{} B", bytes);
    }
    if (bytes < 1048576ULL) {
        return fmt::format(L"{:.0f} KB", n * (1.0 / 1024.0));
    }
    if (bytes < 1073741824ULL) {
        return fmt::format(L"{:.1f} MB", n * (1.0 / 1048576.0));
    }
    return fmt::format(L"{:.2f} GB", n * (1.0 / 1073741824.0));
}

std::wstring ErrorText(uint32_t code) {
    const HMODULE winhttp = ::GetModuleHandleW(L"winhttp.dll");
    DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
    const void* source = nullptr;
    if (code - 12000U <= 193U && winhttp != nullptr) {
        flags |= FORMAT_MESSAGE_FROM_HMODULE;
        source = winhttp;
    }
    wchar_t* buffer = nullptr;
    const DWORD length =
        ::FormatMessageW(flags, source, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    LocalMemory owner(buffer);
    std::wstring text;
    if (length > 0 && buffer != nullptr) {
        text.assign(buffer, length);
    }
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) {
        text.pop_back();
    }
    // Without a text of the system's or of ours, only the bracketed code remains.
    if (const wchar_t* words = text.empty() ? WinHttpWords(code) : nullptr; words != nullptr) {
        text = words;
    }
    return fmt::format(L"{} (#{})", text, code);
}

} // namespace Orv
