// orvhold: holds files open the way an on-access scanner or a backup agent does, for moments at a time.
//
//   orvhold <held-ms> <free-ms> <total-ms> <ready-file> <file>...
//
// Opens every file that exists for reading, sharing reading and writing but not deletion (so it can be
// neither replaced nor deleted), keeps them open <held-ms>, closes them for <free-ms>, and again until
// <total-ms> have passed. Writes <ready-file> once the files were held the first time.
#include "core/handles.h"

#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    if (argc < 6) {
        return 2;
    }
    const DWORD held = static_cast<DWORD>(std::wcstoul(argv[1], nullptr, 10));
    const DWORD free = static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10));
    const ULONGLONG total = std::wcstoul(argv[3], nullptr, 10);
    const ULONGLONG start = ::GetTickCount64();
    bool ready = false;
    while (::GetTickCount64() - start < total) {
        std::vector<Orv::FileHandle> handles;
        for (int i = 5; i < argc; ++i) {
            handles.emplace_back(::CreateFileW(argv[i], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                               nullptr, OPEN_EXISTING, 0, nullptr));
        }
        if (!ready) {
            Orv::FileHandle marker(::CreateFileW(argv[4], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                 FILE_ATTRIBUTE_NORMAL, nullptr));
            ready = true;
        }
        ::Sleep(held);
        handles.clear();
        ::Sleep(free);
    }
    return 0;
}
