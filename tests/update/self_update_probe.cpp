// orvprobe: a program that updates itself the way the launcher does, for the self-update tests.
//
//   orvprobe.exe run <mirror base URL>[|<next>...] [pass args]
//                                                    fetch the manifest and call SelfUpdate on itself
//   orvprobe.exe --updated [...]                      the successor: records how it was started
//
// Both write what happened to the file named by ORV_PROBE_OUT (".first" and ".successor" appended).
#include "core/log.h"
#include "core/paths.h"
#include "core/text.h"
#include "update/downloader.h"
#include "update/mirrors.h"
#include "update/self_update.h"

#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <fstream>

namespace {

void Record(const wchar_t* suffix, const std::string& text) {
    const wchar_t* out = _wgetenv(L"ORV_PROBE_OUT");
    if (out == nullptr) {
        return;
    }
    std::ofstream file(std::filesystem::path(std::wstring(out) + suffix), std::ios::binary | std::ios::trunc);
    file << text;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    using namespace Orv;
    const std::wstring folder = ParentFolder(ExecutablePath());
    if (argc >= 2 && std::wcscmp(argv[1], L"--updated") == 0) {
        Record(L".successor", WideToUtf8(::GetCommandLineW()));
        return 0;
    }
    if (argc < 3 || std::wcscmp(argv[1], L"run") != 0) {
        return 2;
    }
    OpenLog(JoinPath(JoinPath(folder, kDataFolderName), kLogFileName));
    std::vector<std::wstring> mirrors;
    for (std::wstring list = argv[2]; !list.empty();) {
        const size_t bar = list.find(L'|');
        mirrors.push_back(list.substr(0, bar));
        list = bar == std::wstring::npos ? L"" : list.substr(bar + 1);
    }
    int index = 0;
    const auto manifest = FetchManifest(mirrors, {}, {}, index);
    if (!manifest) {
        Record(L".first", "no manifest: " + WideToUtf8(manifest.message));
        return 1;
    }
    UpdateProgress progress;
    const Downloader downloader(folder, mirrors, index, progress);
    UpdateParams params{folder, false, true, argc >= 4 ? argv[3] : L""};
    const bool restarted = SelfUpdate(*manifest.value, params, downloader, progress, {});
    Record(L".first", std::string(restarted ? "restarted" : "kept") + " phase " +
                          std::to_string(static_cast<int>(progress.phase.load())));
    return 0;
}
