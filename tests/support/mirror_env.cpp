#include "mirror_env.h"

#include "core/handles.h"
#include "test_folder.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <utility>

namespace Orv::Support {
namespace {

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

std::wstring OptionalEnvironment(const wchar_t* name) {
    std::wstring value(256, L'\0');
    for (;;) {
        const DWORD length = ::GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
        if (length < value.size()) {
            value.resize(length);
            break;
        }
        value.resize(length);
    }
    return value;
}

std::wstring FromEnvironment(const wchar_t* name) {
    std::wstring value = OptionalEnvironment(name);
    if (value.empty()) {
        ADD_FAILURE() << Narrow(name)
                      << " is not set: run the tests with scripts/test, which starts the download mirrors";
    }
    return value;
}

std::wstring FaultFile(const wchar_t* name) {
    const std::wstring root = MirrorRoot();
    return root.empty() ? std::wstring() : root + L"\\_fault\\" + name;
}

void DeleteIfThere(const std::wstring& path) {
    if (!::DeleteFileW(path.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND &&
        ::GetLastError() != ERROR_PATH_NOT_FOUND) {
        ADD_FAILURE() << "cannot delete " << Narrow(path) << " (error " << ::GetLastError() << ")";
    }
}

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) {
            return fields;
        }
        start = tab + 1;
    }
}

} // namespace

std::wstring MirrorRoot() {
    std::wstring root = FromEnvironment(L"ORV_MIRROR_ROOT");
    while (!root.empty() && (root.back() == L'\\' || root.back() == L'/')) {
        root.pop_back();
    }
    return root;
}

std::wstring HttpBase() {
    return FromEnvironment(L"ORV_HTTP_BASE");
}

std::wstring HttpsBase() {
    return FromEnvironment(L"ORV_HTTPS_BASE");
}

std::wstring FaultBase() {
    return FromEnvironment(L"ORV_FAULT_BASE");
}

std::wstring SmallDisk() {
    return OptionalEnvironment(L"ORV_SMALL_DISK");
}

std::wstring SpaceDisk() {
    return OptionalEnvironment(L"ORV_SPACE_DISK");
}

std::wstring ReadOnlyDisk() {
    return OptionalEnvironment(L"ORV_READONLY_DISK");
}

namespace {

// The lines of nginx's access log so far.
std::vector<std::string> NginxLines() {
    const std::string log = ReadFileOrEmpty(FromEnvironment(L"ORV_NGINX_ACCESS_LOG"));
    std::vector<std::string> lines;
    for (size_t start = 0, end = 0; start < log.size(); start = end + 1) {
        end = log.find('\n', start);
        end = end == std::string::npos ? log.size() : end;
        lines.push_back(log.substr(start, end - start));
    }
    return lines;
}

} // namespace

uint64_t NginxObjectBytes(const std::string& folder) {
    uint64_t bytes = 0;
    for (const std::string& line : NginxLines()) {
        for (const char* kind : {"/objects/", "/packs/"}) {
            const size_t found = line.find("\"GET /" + folder + kind);
            const size_t closing = found == std::string::npos ? found : line.find("\" ", found + 1);
            if (closing != std::string::npos) {
                // After the request: the status, then the body bytes sent.
                const size_t sent = line.find(' ', closing + 2);
                bytes += std::strtoull(line.c_str() + sent + 1, nullptr, 10);
            }
        }
    }
    return bytes;
}

size_t NginxRequests(const std::string& folder, const std::string& part) {
    size_t count = 0;
    for (const std::string& line : NginxLines()) {
        const size_t found = line.find("\"GET /" + folder + "/");
        const size_t closing = found == std::string::npos ? found : line.find(' ', found + 6);
        count += closing != std::string::npos &&
                 line.substr(found, closing - found).find(part) != std::string::npos;
    }
    return count;
}

void SetFaultRules(const std::string& json) {
    const std::wstring rules = FaultFile(L"rules.json");
    if (rules.empty()) {
        return;
    }
    const std::wstring folder = rules.substr(0, rules.find_last_of(L'\\'));
    if (!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
        ADD_FAILURE() << "cannot create " << Narrow(folder) << " (error " << ::GetLastError() << ")";
        return;
    }
    // Written beside the rules and moved over them, so the server never reads half a file. Each
    // call makes a new file, which the server takes as new rules even within the same second.
    static std::atomic<unsigned> counter{0};
    const std::wstring temp =
        rules + L"." + std::to_wstring(::GetCurrentProcessId()) + L"." + std::to_wstring(counter++) + L".tmp";
    bool written = false;
    {
        FileHandle file(::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            ADD_FAILURE() << "cannot create " << Narrow(temp) << " (error " << ::GetLastError() << ")";
            return;
        }
        DWORD count = 0;
        written = ::WriteFile(file.Get(), json.data(), static_cast<DWORD>(json.size()), &count, nullptr) &&
                  count == json.size();
        if (!written) {
            ADD_FAILURE() << "cannot write " << Narrow(temp) << " (error " << ::GetLastError() << ")";
        }
    }
    if (written && !::MoveFileExW(temp.c_str(), rules.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        ADD_FAILURE() << "cannot replace " << Narrow(rules) << " (error " << ::GetLastError() << ")";
        written = false;
    }
    if (!written) {
        ::DeleteFileW(temp.c_str());
    }
}

void ClearFaultRules() {
    const std::wstring rules = FaultFile(L"rules.json");
    if (!rules.empty()) {
        DeleteIfThere(rules);
    }
}

namespace {

// The whole lines of a log of the fault server, split at tabs; a line with another number of fields
// fails the test.
std::vector<std::vector<std::string>> FaultLogLines(const wchar_t* name, size_t fieldCount) {
    std::vector<std::vector<std::string>> lines;
    const std::wstring log = FaultFile(name);
    if (log.empty()) {
        return lines;
    }
    const std::string text = ReadFileOrEmpty(log);
    size_t start = 0;
    // Only whole lines: one the server is still writing has no line end yet.
    for (size_t end = text.find('\n'); end != std::string::npos;
         start = end + 1, end = text.find('\n', start)) {
        std::vector<std::string> fields = SplitTabs(text.substr(start, end - start));
        if (fields.size() != fieldCount) {
            ADD_FAILURE() << "malformed line in " << Narrow(log) << ": " << text.substr(start, end - start);
            continue;
        }
        lines.push_back(std::move(fields));
    }
    return lines;
}

} // namespace

std::vector<RequestRecord> FaultRequests() {
    std::vector<RequestRecord> records;
    for (const std::vector<std::string>& fields : FaultLogLines(L"requests.log", 6)) {
        RequestRecord record;
        record.path = fields[0];
        record.query = fields[1];
        record.range = fields[2];
        record.userAgent = fields[3];
        record.cacheControl = fields[4];
        record.status = std::atoi(fields[5].c_str());
        records.push_back(std::move(record));
    }
    return records;
}

std::vector<SentRecord> FaultAnswersSent() {
    std::vector<SentRecord> records;
    for (const std::vector<std::string>& fields : FaultLogLines(L"sent.log", 3)) {
        records.push_back({fields[0], fields[1], std::strtoull(fields[2].c_str(), nullptr, 10)});
    }
    return records;
}

void ClearFaultRequests() {
    for (const wchar_t* name : {L"requests.log", L"sent.log"}) {
        const std::wstring log = FaultFile(name);
        if (!log.empty()) {
            DeleteIfThere(log);
        }
    }
}

} // namespace Orv::Support
