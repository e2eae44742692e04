// The platform's floor for installing many small files: what a fresh install cannot do with less. For
// each file row of a manifest, on twelve threads: one WinHTTP GET of its object over a kept-alive
// connection, the body written to a ".part" beside the file (CreateFileW, WriteFile, FlushFileBuffers,
// CloseHandle) and moved into place (MoveFileExW). Nothing is inflated or verified; the folders are made
// first. Benchmark use only.
//
//   orvfloor <manifest.txt> <base URL ending in /> <game folder>
#include "core/handles.h"

#include <windows.h>

#include <winhttp.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kThreads = 12;

struct Row {
    std::wstring path;   // relative, backslashes
    std::wstring object; // URL path below the base: "objects/xx/<sha>[.z]"
};

std::wstring Wide(const std::string& text) {
    std::wstring out(text.size(), L'\0');
    out.resize(static_cast<size_t>(::MultiByteToWideChar(
        CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), static_cast<int>(out.size()))));
    return out;
}

std::vector<Row> ReadRows(const std::wstring& manifest) {
    std::ifstream file(std::filesystem::path(manifest), std::ios::binary);
    std::vector<Row> rows;
    std::string line;
    while (std::getline(file, line)) {
        std::vector<std::string> fields;
        std::stringstream split(line);
        for (std::string field; std::getline(split, field, '\t');) {
            fields.push_back(field);
        }
        if (fields.size() != 7 || fields[0] != "f") {
            continue;
        }
        std::wstring path = Wide(fields[6]);
        for (wchar_t& c : path) {
            c = c == L'/' ? L'\\' : c;
        }
        const std::wstring sha = Wide(fields[1]);
        rows.push_back(
            {path, L"objects/" + sha.substr(0, 2) + L"/" + sha + (fields[4] == "z" ? L".z" : L"")});
    }
    return rows;
}

bool Fetch(HINTERNET connection, const std::wstring& object, const std::wstring& target,
           std::vector<char>& buffer) {
    const Orv::WinHttpHandle request(::WinHttpOpenRequest(
        connection, L"GET", object.c_str(), nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, 0));
    if (!request ||
        !::WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, nullptr, 0, 0, 0) ||
        !::WinHttpReceiveResponse(request.Get(), nullptr)) {
        return false;
    }
    DWORD status = 0;
    DWORD statusSize = sizeof status;
    if (!::WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX) ||
        status != 200) {
        return false;
    }
    const std::wstring part = target + L".part";
    {
        const Orv::FileHandle file(::CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        bool ok = file.Valid();
        for (DWORD read = 1; ok && read > 0;) {
            ok = ::WinHttpReadData(request.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read) !=
                 FALSE;
            DWORD written = 0;
            ok = ok && (read == 0 || ::WriteFile(file.Get(), buffer.data(), read, &written, nullptr));
        }
        if (!ok || !::FlushFileBuffers(file.Get())) {
            return false;
        }
    }
    return ::MoveFileExW(part.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fputs("usage: orvfloor <manifest.txt> <base URL> <game folder>\n", stderr);
        return 2;
    }
    const std::vector<Row> rows = ReadRows(argv[1]);
    const std::wstring game = argv[3];
    std::set<std::filesystem::path> folders;
    for (const Row& row : rows) {
        folders.insert((std::filesystem::path(game) / row.path).parent_path());
    }
    for (const auto& folder : folders) {
        std::filesystem::create_directories(folder);
    }

    wchar_t host[256] = {};
    URL_COMPONENTS url{};
    url.dwStructSize = sizeof url;
    url.lpszHostName = host;
    url.dwHostNameLength = 256;
    url.dwUrlPathLength = static_cast<DWORD>(-1);
    if (!::WinHttpCrackUrl(argv[2], 0, 0, &url)) {
        return 2;
    }
    const std::wstring basePath(url.lpszUrlPath, url.dwUrlPathLength);
    const Orv::WinHttpHandle session(::WinHttpOpen(L"orvfloor", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                                   WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    std::atomic<size_t> next{0};
    std::atomic<size_t> failed{0};
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&] {
                const Orv::WinHttpHandle connection(::WinHttpConnect(session.Get(), host, url.nPort, 0));
                std::vector<char> buffer(65536);
                for (size_t i = next.fetch_add(1); i < rows.size(); i = next.fetch_add(1)) {
                    if (!Fetch(connection.Get(), basePath + rows[i].object, game + L"\\" + rows[i].path,
                               buffer)) {
                        failed.fetch_add(1);
                    }
                }
            });
        }
    }
    std::printf("%zu files, %zu failed\n", rows.size(), failed.load());
    return failed.load() == 0 ? 0 : 1;
}
