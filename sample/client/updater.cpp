// Updater.exe of the sample game: stands in for the game's login and launch program, the one the
// launcher's PLAY button starts. Like the real one it holds the mutex "QuorinLauncher" while its
// window is open.
//
// Its window (class "OrvaneSampleUpdater", title "Orvane sample client") has one STATIC control,
// readable from another process with WM_GETTEXT, whose text is exactly these three lines:
//
//   Arguments: <args>\r\nClient version: <version>\r\nLanguage: <code>
//
// <args> is the command line after the program path and the spaces or tabs that follow it, as it
// is (possibly empty). <version> is the value of the first line of VersionInfo.ver (in the
// program's own folder) that starts with "ClientVersion" and a space or tab; <code> is the value of
// the first "Code=" line of the "[Language]" section of lang\lang.ini under the program's folder.
// Either is empty when its file or line is missing.
#include "client_window.h"

#include "core/handles.h"

#include <windows.h>

#include <algorithm>
#include <string_view>

namespace Orv::Sample {
namespace {

bool IsGap(char c) {
    return c == ' ' || c == '\t';
}

// The file's lines without their line ends, and without a UTF-8 byte order mark on the first.
template <class Visit>
void ForEachLine(const std::string& text, Visit visit) {
    std::string_view rest(text);
    if (rest.starts_with("\xEF\xBB\xBF")) {
        rest.remove_prefix(3);
    }
    while (!rest.empty()) {
        const size_t end = std::min(rest.find('\n'), rest.size());
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(std::min(end + 1, rest.size()));
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
            line.remove_suffix(1);
        }
        if (visit(line)) {
            return;
        }
    }
}

std::string ClientVersion(const std::wstring& folder) {
    std::string version;
    const auto text = ReadSmallFile(folder + L"\\VersionInfo.ver");
    ForEachLine(text.value_or(""), [&](std::string_view line) {
        constexpr std::string_view key = "ClientVersion";
        if (!line.starts_with(key) || line.size() == key.size() || !IsGap(line[key.size()])) {
            return false;
        }
        line.remove_prefix(key.size());
        while (!line.empty() && IsGap(line.front())) {
            line.remove_prefix(1);
        }
        size_t end = 0;
        while (end < line.size() && !IsGap(line[end])) {
            ++end;
        }
        version = line.substr(0, end);
        return true;
    });
    return version;
}

std::string LanguageCode(const std::wstring& folder) {
    std::string code;
    bool inSection = false;
    const auto text = ReadSmallFile(folder + L"\\lang\\lang.ini");
    ForEachLine(text.value_or(""), [&](std::string_view line) {
        if (line.starts_with('[')) {
            inSection = line == "[Language]";
        } else if (inSection && line.starts_with("Code=")) {
            code = line.substr(5);
            return true;
        }
        return false;
    });
    return code;
}

} // namespace
} // namespace Orv::Sample

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    using namespace Orv::Sample;
    // Held while the window is open.
    const Orv::KernelHandle running(::CreateMutexW(nullptr, FALSE, L"QuorinLauncher"));
    const std::wstring folder = OwnFolder();
    const std::wstring text = L"Arguments: " + ArgumentText() + L"\r\nClient version: " +
                              Utf8ToWide(ClientVersion(folder)) + L"\r\nLanguage: " +
                              Utf8ToWide(LanguageCode(folder));
    return RunTextWindow(instance, L"OrvaneSampleUpdater", L"Orvane sample client", text, showCommand);
}
