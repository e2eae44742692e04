#include "orvanectl/verify.h"

#include "core/paths.h"
#include "core/text.h"
#include "orvanectl/file_system.h"
#include "orvanectl/object_check.h"
#include "orvanectl/work_queue.h"
#include "partners/download_server.h"
#include "update/manifest.h"
#include "update/release_signature.h"
#include "update/release_trust.h"

#include <fmt/xchar.h>

#include <algorithm>
#include <map>

namespace Orv::Publisher {
namespace {

bool IsLowerHex(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

struct Listed {
    ExpectedObject expected;
    std::wstring firstPath;
};

} // namespace

Outcome<VerifyReport> VerifyMirror(const std::wstring& mirrorRoot, const std::string& publicKey,
                                   const LineSink& say) {
    using Result = Outcome<VerifyReport>;
    auto root = AbsolutePath(mirrorRoot);
    if (!root) {
        return Result::Failure(root.message);
    }
    auto text =
        ReadWholeFile(JoinPath(*root.value, DownloadServer::kManifestName), DownloadServer::kManifestLimit);
    if (!text) {
        return Result::Failure(text.message);
    }
    VerifyReport report;
    const ReleaseTrust trust{publicKey, std::nullopt};
    if (!publicKey.empty()) {
        report.signature =
            SignatureRefusal(*text.value, trust) ? SignatureCheck::Fails : SignatureCheck::Holds;
    } else if (FindSignatureLine(*text.value)) {
        report.signature = SignatureCheck::NotChecked;
    }
    auto manifest = ParseManifest(std::move(*text.value));
    if (!manifest) {
        return Result::Failure(manifest.message);
    }
    if (report.signature == SignatureCheck::Holds) {
        report.refusal = ReleaseRefusal(*manifest.value, trust).value_or(L"");
    }

    report.mirrorRoot = *root.value;
    report.release = manifest.value->release;
    report.files = manifest.value->files.size();
    std::map<std::wstring, Listed> objects; // by object name
    for (const FileEntry& entry : manifest.value->files) {
        const std::wstring name = ObjectName(entry.sha256, entry.compressed);
        if (!IsLowerHex(entry.sha256)) {
            report.problems.push_back(
                fmt::format(L"{}: the SHA-256 of \"{}\" is not 64 lower-case hex digits", name, entry.path));
            continue;
        }
        const ExpectedObject expected{entry.sha256, entry.size, entry.zsize, entry.compressed};
        const auto [it, added] = objects.try_emplace(name, Listed{expected, entry.path});
        if (!added && (it->second.expected.size != entry.size || it->second.expected.zsize != entry.zsize)) {
            report.problems.push_back(fmt::format(L"{}: \"{}\" and \"{}\" list it with different sizes", name,
                                                  it->second.firstPath, entry.path));
        }
    }

    std::vector<std::pair<std::wstring, ExpectedObject>> work;
    for (const auto& [name, listed] : objects) {
        work.emplace_back(name, listed.expected);
        report.objectBytes += listed.expected.zsize;
    }
    report.objects = work.size();
    std::vector<std::optional<std::wstring>> found(work.size());
    ProgressMeter meter(L"checked", L"objects", work.size(), report.objectBytes, say);
    RunOnWorkers(work.size(), WorkerCount(), [&](size_t index, std::stop_token stop) {
        found[index] = CheckObject(*root.value, work[index].second, stop,
                                   [&](uint64_t bytes) { meter.AddBytes(bytes); });
        meter.AddItem();
        return Success();
    });
    meter.Finish();
    for (size_t i = 0; i < work.size(); ++i) {
        if (found[i]) {
            report.problems.push_back(fmt::format(L"{}: {}", work[i].first, *found[i]));
        }
    }
    std::sort(report.problems.begin(), report.problems.end());
    return Result::Success(std::move(report));
}

std::wstring SignatureText(const VerifyReport& report) {
    switch (report.signature) {
    case SignatureCheck::None:
        return L"signature: none";
    case SignatureCheck::NotChecked:
        return L"signature: present, not checked (no --key)";
    case SignatureCheck::Holds:
        return report.refusal.empty() ? L"signature: holds"
                                      : fmt::format(L"signature: holds; {}", report.refusal);
    case SignatureCheck::Fails:
        return L"signature: does not hold: the manifest is not signed with this key";
    }
    return L"";
}

std::wstring VerifySummaryText(const VerifyReport& report) {
    return fmt::format(L"verified release {} in \"{}\": {} files, {} objects ({}), all good", report.release,
                       report.mirrorRoot, report.files, report.objects, SizeText(report.objectBytes));
}

} // namespace Orv::Publisher
