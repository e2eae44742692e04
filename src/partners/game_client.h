#pragma once

// What the launcher shares with the game client programs in the game folder.
namespace Orv::GameClient {

// Its presence marks a folder as a game installation.
inline constexpr const wchar_t* kEngineExe = L"Engine.exe";

// The program PLAY starts when the manifest names none; it receives the manifest's server value as
// its whole argument text and starts in the game folder.
inline constexpr const wchar_t* kDefaultLaunch = L"Updater.exe";

// Exists while the client's own updater (its login window) is open.
inline constexpr const wchar_t* kUpdaterMutex = L"QuorinLauncher";

// The client's version file and the key whose value the launcher replaces after an update.
inline constexpr const wchar_t* kVersionFile = L"VersionInfo.ver";
inline constexpr const char* kClientVersionKey = "ClientVersion";

// The client's language folder: the offered languages and the chosen one.
inline constexpr const wchar_t* kLanguageFolder = L"lang";
inline constexpr const wchar_t* kLanguagesFile = L"languages.json";
inline constexpr const wchar_t* kLanguageFile = L"lang.ini";

// The client's configuration key (under the current user) and the pre-login server address in it.
inline constexpr const wchar_t* kRegistryRoot = L"Software\\Halvex\\Kelvaro";
inline constexpr const wchar_t* kConfigurationKey = L"Software\\Halvex\\Kelvaro\\Configuration";
inline constexpr const wchar_t* kPreServerValue = L"PreServerIPAddress";

// Client files that no manifest lists but that uninstallation removes.
inline constexpr const wchar_t* kOptionFile = L"option.sys";
inline constexpr const wchar_t* kSetupInfoFile = L"setupinfo.ver";

} // namespace Orv::GameClient
