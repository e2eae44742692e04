#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Where the download mirrors that scripts/test starts are, and control of the fault server.
//
// One folder, the mirror root, is served by nginx over http (127.0.0.1) and https ("localhost", a
// certificate the Wine prefix trusts), and by tests/support/fault_server.py, which misbehaves on
// request. A test puts its files under MirrorRoot() and fetches them from HttpBase(), HttpsBase() or
// FaultBase() + the same relative path (with "/").
//
// A value that scripts/test did not set makes the calling test fail and comes back empty.
namespace Orv::Support {

// The mirror root as a Windows path, without a trailing backslash (ORV_MIRROR_ROOT).
std::wstring MirrorRoot();
// Base URLs, each ending in "/": nginx over http and https, and the fault server.
std::wstring HttpBase();  // ORV_HTTP_BASE, "http://127.0.0.1:PORT/"
std::wstring HttpsBase(); // ORV_HTTPS_BASE, "https://localhost:PORT/"
std::wstring FaultBase(); // ORV_FAULT_BASE, "http://127.0.0.1:PORT/"

// A small file system that fills up quickly (ORV_SMALL_DISK, a Windows path); empty when the test
// script could not mount one. Tests that need it skip themselves then.
std::wstring SmallDisk();
// A 256 MiB file system for the free-space check (ORV_SPACE_DISK); empty when not mounted.
std::wstring SpaceDisk();
// A file system mounted read-only (ORV_READONLY_DISK), which refuses writes even to the root user that
// tests run as; empty when not mounted.
std::wstring ReadOnlyDisk();

// The body bytes nginx has sent for objects and packs below the mirror folder (one level below the
// mirror root), as its access log (ORV_NGINX_ACCESS_LOG) has them so far.
uint64_t NginxObjectBytes(const std::string& folder);

// The requests nginx has answered so far for paths below the mirror folder that hold `part`.
size_t NginxRequests(const std::string& folder, const std::string& part);

// Replaces the fault server's rules (_fault/rules.json) at once. The JSON maps an exact URL path
// to a rule, for example
//   {"/objects/ab/ab12": {"drop_after": 1000, "drop_times": 2}, "/live/manifest": {"status": 503}}
// with any of: "status": N (answers N, without the file); "drop_after": N with "drop_times": K
// (default 1): the first K requests send the full Content-Length but only N body bytes, then the
// connection closes; "flip_at": N (the byte at file offset N is sent XOR 0xFF); "ignore_range":
// true (a range request gets 200 and the whole file); "delay_ms": N with "chunk": bytes (default
// 65536): a pause between body chunks; "endless": true: filler bytes follow the file without end
// (the server gives up after 64 MiB), with "length": N (the Content-Length says N) or "no_length": true
// (none: the body ends when the connection closes); "from_request": N: the rule holds from the N-th
// request of the path on; "content_range": "..." (a 206 answer says this Content-Range); "html": true
// (200 with a small HTML page); "gzip": true (200 with the file gzip-compressed and
// "Content-Encoding: gzip"); "truncate": N (the file is served as if it held its first N bytes). Every new
// set of rules starts the request counts again; rules the server cannot read make it answer 500 to
// everything.
void SetFaultRules(const std::string& json);
// No rules: the fault server behaves like nginx.
void ClearFaultRules();

// One request the fault server answered, as its log line has it: a value the request did not
// have (no query, no Range header, ...) reads "-".
struct RequestRecord {
    std::string path;         // URL path as sent, without the query
    std::string query;        // without "?"
    std::string range;        // Range header
    std::string userAgent;    // User-Agent header
    std::string cacheControl; // Cache-Control header
    int status = 0;           // status sent (also for a dropped connection)
};

// The requests the fault server has answered since the last ClearFaultRequests(), oldest first.
std::vector<RequestRecord> FaultRequests();
void ClearFaultRequests();

// A file answer of the fault server whose body has ended, sent whole or cut off by the client.
struct SentRecord {
    std::string path;  // URL path as sent, without the query
    std::string range; // Range header
    uint64_t bytes = 0;
};

// The file answers that have ended since the last ClearFaultRequests(), oldest first.
std::vector<SentRecord> FaultAnswersSent();

} // namespace Orv::Support
