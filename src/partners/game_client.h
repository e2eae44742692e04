#pragma once

// What the launcher shares with the game client programs in the game folder.
namespace Orv::GameClient {

// Its presence marks a folder as a game installation.
inline constexpr const wchar_t* kEngineExe = L"Engine.exe";

// The program PLAY starts when the manifest names none.
inline constexpr const wchar_t* kDefaultLaunch = L"Updater.exe";

// Exists while the client's own updater (its login window) is open.
inline constexpr const wchar_t* kUpdaterMutex = L"QuorinLauncher";

// The client's version file, language folder and files.
inline constexpr const wchar_t* kVersionFile = L"VersionInfo.ver";
inline constexpr const wchar_t* kLanguageFolder = L"lang";
inline constexpr const wchar_t* kLanguagesFile = L"languages.json";
inline constexpr const wchar_t* kLanguageFile = L"lang.ini";

} // namespace Orv::GameClient
