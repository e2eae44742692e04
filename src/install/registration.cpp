#include "install/registration.h"

#include "core/build_settings.h"
#include "core/handles.h"
#include "core/paths.h"
#include "partners/game_client.h"

#include <fmt/xchar.h>

namespace Orv {
namespace {

void SetNumberValue(HKEY key, const wchar_t* name, DWORD value) {
    ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

RegKey CreateKey(const wchar_t* path, REGSAM access) {
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &key,
                          nullptr) != ERROR_SUCCESS) {
        return RegKey();
    }
    return RegKey(key);
}

} // namespace

void SetStringValue(HKEY key, const wchar_t* name, const std::wstring& text) {
    ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void Register(const std::wstring& folder, const std::wstring& version) {
    const RegKey key = CreateKey(kUninstallKey, KEY_READ | KEY_WRITE);
    if (!key) {
        return;
    }
    const std::wstring exe = JoinPath(folder, L"Orvane.exe");
    SetStringValue(key.Get(), L"DisplayName", L"Orvane");
    SetStringValue(key.Get(), L"Publisher", L"Orvane");
    SetStringValue(key.Get(), L"DisplayIcon", exe);
    SetStringValue(key.Get(), L"InstallLocation", folder);
    SetStringValue(key.Get(), L"UninstallString", fmt::format(L"\"{}\" --uninstall", exe));
    SetStringValue(key.Get(), L"QuietUninstallString", fmt::format(L"\"{}\" --uninstall --quiet", exe));
    SetStringValue(key.Get(), L"URLInfoAbout", BuildSettings::kProductUrl);
    if (!version.empty()) {
        SetStringValue(key.Get(), L"DisplayVersion", version);
    }
    SetNumberValue(key.Get(), L"NoModify", 1);
    SetNumberValue(key.Get(), L"NoRepair", 1);
    SetNumberValue(key.Get(), L"EstimatedSize", 5300000);
}

void SetPreServerAddress(const std::wstring& address) {
    if (address.empty()) {
        return;
    }
    const RegKey key = CreateKey(GameClient::kConfigurationKey, KEY_WRITE);
    if (key) {
        SetStringValue(key.Get(), GameClient::kPreServerValue, address);
    }
}

} // namespace Orv
