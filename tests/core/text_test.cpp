#include "core/base64.h"
#include "core/text.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace Orv {
namespace {

TEST(SizeText, UsesBinaryUnitsWithFixedDecimals) {
    EXPECT_EQ(SizeText(0), L"0 B");
    EXPECT_EQ(SizeText(1023), L"1023 B");
    EXPECT_EQ(SizeText(1024), L"1 KB");
    EXPECT_EQ(SizeText(1600), L"2 KB");
    EXPECT_EQ(SizeText(1048576), L"1.0 MB");
    EXPECT_EQ(SizeText(1073741824ULL), L"1.00 GB");
    EXPECT_EQ(SizeText(5700000000ULL), L"5.31 GB");
}

TEST(SizeText, RoundingMayReachTheNextThresholdAndThereIsNoTerabyte) {
    EXPECT_EQ(SizeText(1048575), L"1024 KB");
    EXPECT_EQ(SizeText(5ULL << 40), L"5120.00 GB");
}

TEST(ErrorText, IsTheSystemTextFollowedByTheCode) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                                              FORMAT_MESSAGE_FROM_SYSTEM,
                                          nullptr, 5, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    ASSERT_GT(length, 0U);
    std::wstring system(buffer, length);
    ::LocalFree(buffer);
    while (!system.empty() && (system.back() == L'\n' || system.back() == L'\r' || system.back() == L' ')) {
        system.pop_back();
    }
    const std::wstring text = ErrorText(5);
    EXPECT_EQ(text, system + L" (#5)");
    ASSERT_GT(text.size(), std::wstring(L" (#5)").size());
    EXPECT_EQ(text.substr(text.size() - 5), L" (#5)");
    const std::wstring message = text.substr(0, text.size() - 5);
    EXPECT_NE(message.back(), L'\n');
    EXPECT_NE(message.back(), L'\r');
    EXPECT_NE(message.back(), L' ');
}

TEST(ErrorText, UnknownCodeGivesOnlyTheBracketedCode) {
    EXPECT_EQ(ErrorText(0x2FFFFFF0U), L" (#805306352)");
}

TEST(ErrorText, WinHttpRangeStillEndsInTheCode) {
    const std::wstring text = ErrorText(12029);
    EXPECT_EQ(text.substr(text.size() - 9), L" (#12029)");
}

TEST(Utf8, TurkishTextRoundTrips) {
    const std::string bytes = "\xC4\xB0ndiriliyor:";
    const std::wstring wide = Utf8ToWide(bytes);
    EXPECT_EQ(wide, L"\u0130ndiriliyor:");
    EXPECT_EQ(WideToUtf8(wide), bytes);
}

TEST(Utf8, EmptyAndInvalidInput) {
    EXPECT_EQ(Utf8ToWide(std::string_view{}), L"");
    EXPECT_EQ(WideToUtf8(std::wstring_view{}), "");
    EXPECT_EQ(Utf8ToWide(std::string_view("a\xFF"
                                          "b")),
              L"a\uFFFDb");
    EXPECT_EQ(WideToUtf8(std::wstring(L"x\xD800y")), "x\xEF\xBF\xBDy");
}

TEST(Base64, RoundTripsAndTakesOnlyTheFormItWrites) {
    EXPECT_EQ(Base64Encode(""), "");
    EXPECT_EQ(Base64Encode("f"), "Zg==");
    EXPECT_EQ(Base64Encode("fo"), "Zm8=");
    EXPECT_EQ(Base64Encode("foo"), "Zm9v");
    EXPECT_EQ(Base64Encode("\xFB\xFF"), "+/8=");
    for (const std::string bytes : {"", "f", "fo", "foo", "foob", "\0\xFF\x10\x80"}) {
        EXPECT_EQ(Base64Decode(Base64Encode(bytes)), bytes);
    }
    for (const char* bad :
         {"Zg", "Zg=", "Zh==", "Zm9=", "Z===", "====", "Zg==Zg==", "Zm9v\n", "Zm 9", "Zm-_"}) {
        EXPECT_FALSE(Base64Decode(bad)) << bad;
    }
}

TEST(UiLanguage, PickFollowsTheFlagAtTheMomentOfUse) {
    const bool before = IsTurkish();
    SetTurkish(true);
    EXPECT_STREQ(Pick(L"Cancelled.", L"\u0130ptal edildi."), L"\u0130ptal edildi.");
    SetTurkish(false);
    EXPECT_STREQ(Pick(L"Cancelled.", L"\u0130ptal edildi."), L"Cancelled.");
    SetTurkish(before);
}

} // namespace
} // namespace Orv
