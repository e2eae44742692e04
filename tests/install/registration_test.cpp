// Registration in the real registry of the test prefix.
#include "support/registry.h"
#include "core/build_settings.h"
#include "core/handles.h"
#include "install/registration.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <optional>

namespace Orv {
namespace {

std::optional<DWORD> ReadNumber(const wchar_t* keyPath, const wchar_t* name) {
    DWORD value = 0;
    DWORD size = sizeof value;
    if (::RegGetValueW(HKEY_CURRENT_USER, keyPath, name, RRF_RT_REG_DWORD, nullptr, &value, &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    return value;
}

size_t ValueCount(const wchar_t* keyPath) {
    HKEY raw = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, keyPath, 0, KEY_READ, &raw) != ERROR_SUCCESS) {
        return 0;
    }
    RegKey key(raw);
    DWORD values = 0;
    ::RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                       nullptr, nullptr, nullptr);
    return values;
}

constexpr const wchar_t* kConfiguration = L"Software\\Halvex\\Kelvaro\\Configuration";

class Registration : public ::testing::Test {
protected:
    void SetUp() override { Clear(); }
    void TearDown() override { Clear(); }
    static void Clear() {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, kUninstallKey);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Halvex\\Kelvaro");
    }
};

TEST_F(Registration, InstallingWritesTenValuesWithoutAVersion) {
    Register(L"C:\\Games\\Orvane Beta", L"");
    EXPECT_EQ(ValueCount(kUninstallKey), 10U);
    EXPECT_EQ(Support::UserString(kUninstallKey, L"DisplayName"), L"Orvane");
    EXPECT_EQ(Support::UserString(kUninstallKey, L"Publisher"), L"Orvane");
    EXPECT_EQ(Support::UserString(kUninstallKey, L"DisplayIcon"), L"C:\\Games\\Orvane Beta\\Orvane.exe");
    EXPECT_EQ(Support::UserString(kUninstallKey, L"InstallLocation"), L"C:\\Games\\Orvane Beta");
    EXPECT_EQ(Support::UserString(kUninstallKey, L"UninstallString"),
              L"\"C:\\Games\\Orvane Beta\\Orvane.exe\" --uninstall");
    EXPECT_EQ(Support::UserString(kUninstallKey, L"QuietUninstallString"),
              L"\"C:\\Games\\Orvane Beta\\Orvane.exe\" --uninstall --quiet");
    EXPECT_EQ(Support::UserString(kUninstallKey, L"URLInfoAbout"), BuildSettings::kProductUrl);
    EXPECT_FALSE(Support::UserString(kUninstallKey, L"DisplayVersion").has_value());
    EXPECT_EQ(ReadNumber(kUninstallKey, L"NoModify"), 1U);
    EXPECT_EQ(ReadNumber(kUninstallKey, L"NoRepair"), 1U);
    EXPECT_EQ(ReadNumber(kUninstallKey, L"EstimatedSize"), 5300000U);
}

TEST_F(Registration, AnUpdateAddsTheVersionAndALaterInstallKeepsIt) {
    Register(L"D:\\G", L"1.0.3");
    EXPECT_EQ(Support::UserString(kUninstallKey, L"DisplayVersion"), L"1.0.3");
    Register(L"D:\\G", L"");
    EXPECT_EQ(Support::UserString(kUninstallKey, L"DisplayVersion"), L"1.0.3");
}

TEST_F(Registration, StringsAreStoredWithTheirTerminatingZero) {
    Register(L"E:\\x", L"");
    HKEY raw = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, kUninstallKey, 0, KEY_READ, &raw), ERROR_SUCCESS);
    RegKey key(raw);
    DWORD size = 0;
    DWORD type = 0;
    ASSERT_EQ(::RegQueryValueExW(key.Get(), L"InstallLocation", nullptr, &type, nullptr, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, (4U + 1U) * 2U);
}

TEST_F(Registration, PreServerAddressIsWrittenOnlyWhenGiven) {
    SetPreServerAddress(L"10.1.2.3:4000");
    EXPECT_EQ(Support::UserString(kConfiguration, L"PreServerIPAddress"), L"10.1.2.3:4000");
    SetPreServerAddress(L"");
    EXPECT_EQ(Support::UserString(kConfiguration, L"PreServerIPAddress"), L"10.1.2.3:4000");
}

} // namespace
} // namespace Orv
