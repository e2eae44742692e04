#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Orv {

std::wstring Utf8ToWide(const char* bytes, size_t length);
inline std::wstring Utf8ToWide(std::string_view bytes) {
    return Utf8ToWide(bytes.data(), bytes.size());
}
std::string WideToUtf8(const wchar_t* text, size_t length);
inline std::string WideToUtf8(std::wstring_view text) {
    return WideToUtf8(text.data(), text.size());
}

// Whether the bytes are UTF-8 as the standard defines it: no stray or missing continuation bytes,
// overlong forms, surrogates or values beyond U+10FFFF.
bool IsValidUtf8(std::string_view bytes);

// A number as the release's machine-written files hold them: plain decimal digits, no sign, no blank, no
// leading zero, at most `most`; nothing otherwise.
std::optional<uint64_t> ReadPlainDecimal(std::string_view text, uint64_t most);

// Human-readable size in binary units: "{} B", "{:.0f} KB", "{:.1f} MB", "{:.2f} GB".
std::wstring SizeText(uint64_t bytes);

// The system's text for a Win32 or WinHTTP error code followed by " (#code)"; words of its own for the
// usual WinHTTP errors where the system has no text for them.
std::wstring ErrorText(uint32_t code);

// The UI language flag: true means Turkish texts.
bool IsTurkish();
void SetTurkish(bool turkish);

// Picks the text of a message pair by the UI language flag at the moment of the call.
inline const wchar_t* Pick(const wchar_t* english, const wchar_t* turkish) {
    return IsTurkish() ? turkish : english;
}

// "Cancelled." in the UI language: what a stopped transfer or file operation reports.
inline const wchar_t* CancelledText() {
    return Pick(L"Cancelled.", L"İptal edildi.");
}

} // namespace Orv
