// orvanectl: publishes a game folder as a release into a download mirror, checks mirrors, and
// updates game folders without a window.
// Run "orvanectl --help" for the commands.
#include "orvanectl/command.h"
#include "orvanectl/console.h"
#include "orvanectl/publish.h"
#include "orvanectl/pull.h"
#include "orvanectl/remote_verify.h"
#include "orvanectl/sign_release.h"
#include "orvanectl/signing_key.h"
#include "orvanectl/update_command.h"
#include "orvanectl/verify.h"
#include "orvanectl/web_source.h"

#include "core/dll_search.h"
#include "core/text.h"

#include <fmt/xchar.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace Orv::Publisher;

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

int RunPublish(const PublishRequest& request) {
    const auto summary = Publish(request, [](const std::wstring& line) { PrintLine(line); });
    if (!summary) {
        PrintErrorLine(fmt::format(L"publish failed: {}", summary.message));
        return kExitFailed;
    }
    PrintLine(SummaryText(*summary.value));
    return kExitDone;
}

int RunVerify(const Command& command) {
    const LineSink say = [](const std::wstring& line) { PrintLine(line); };
    const bool web = IsWebAddress(command.mirrorRoot);
    const auto report = web ? VerifyWebMirror(command.mirrorRoot, command.publicKey, command.quick, say)
                            : VerifyMirror(command.mirrorRoot, command.publicKey, say);
    if (!report) {
        PrintErrorLine(fmt::format(L"verify failed: {}", report.message));
        return kExitFailed;
    }
    for (const std::wstring& warning : report.value->warnings) {
        PrintErrorLine(fmt::format(L"warning: {}", warning));
    }
    const bool signatureBad =
        report.value->signature == SignatureCheck::Fails || !report.value->refusal.empty();
    if (signatureBad) {
        PrintErrorLine(SignatureText(*report.value));
    } else {
        PrintLine(SignatureText(*report.value));
    }
    if (!report.value->problems.empty()) {
        for (const std::wstring& problem : report.value->problems) {
            PrintErrorLine(fmt::format(L"{} {}", web ? L"bad:" : L"bad object", problem));
        }
        PrintErrorLine(report.value->packs == 0
                           ? fmt::format(L"verify failed: {} of {} objects are bad",
                                         report.value->problems.size(), report.value->objects)
                           : fmt::format(L"verify failed: {} problems in {} objects and {} packs",
                                         report.value->problems.size(), report.value->objects,
                                         report.value->packs));
        return kExitFailed;
    }
    if (signatureBad) {
        PrintErrorLine(L"verify failed: a launcher with this key would refuse the manifest");
        return kExitFailed;
    }
    PrintLine(VerifySummaryText(*report.value));
    return kExitDone;
}

int RunPull(const Command& command) {
    const auto report = PullMirror(command.mirrorRoot, command.folder, command.publicKey,
                                   [](const std::wstring& line) { PrintLine(line); });
    if (!report) {
        PrintErrorLine(fmt::format(L"pull failed: {}", report.message));
        return kExitFailed;
    }
    if (!report.value->problems.empty()) {
        PrintErrorLine(fmt::format(L"pull failed: {} problems; {}", report.value->problems.size(),
                                   PullSummaryText(*report.value)));
        return kExitFailed;
    }
    PrintLine(PullSummaryText(*report.value));
    return kExitDone;
}

int RunKeygen(const std::wstring& keyFile) {
    const auto key = MakeSigningKey(keyFile);
    if (!key) {
        PrintErrorLine(fmt::format(L"keygen failed: {}", key.message));
        return kExitFailed;
    }
    // Standard output holds the public key alone, so that a script can take it as it is.
    PrintLine(Orv::Utf8ToWide(key.value->publicKey));
    return kExitDone;
}

int RunSign(const std::wstring& mirrorRoot, const std::wstring& keyFile) {
    const auto summary = SignMirror(mirrorRoot, keyFile);
    if (!summary) {
        PrintErrorLine(fmt::format(L"sign failed: {}", summary.message));
        return kExitFailed;
    }
    PrintLine(fmt::format(L"signed release {} in \"{}\"{}", summary.value->release, summary.value->mirrorRoot,
                          summary.value->replacedSignature ? L" (its earlier signature replaced)" : L""));
    return kExitDone;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    // The process entry has limited where DLLs come from; before anything else can ask for the update
    // engine's DLLs by name, they are taken from System32.
    const auto systemDlls = Orv::LoadSystemDlls();
    if (!systemDlls) {
        PrintErrorLine(fmt::format(L"orvanectl: {}", systemDlls.message));
        return kExitFailed;
    }
    const std::vector<std::wstring> args(argv + 1, argv + argc);
    const auto command = ParseCommand(args);
    if (!command) {
        PrintErrorLine(fmt::format(L"orvanectl: {}", command.message));
        PrintErrorLine(L"Run \"orvanectl --help\" for the usage.");
        return kExitUsage;
    }
    switch (command.value->kind) {
    case CommandKind::Help: {
        const std::wstring_view usage = UsageText();
        for (size_t start = 0; start <= usage.size();) {
            const size_t end = std::min(usage.find(L'\n', start), usage.size());
            PrintLine(usage.substr(start, end - start));
            start = end + 1;
        }
        return kExitDone;
    }
    case CommandKind::Publish:
        return RunPublish(command.value->publish);
    case CommandKind::Verify:
        return RunVerify(*command.value);
    case CommandKind::Pull:
        return RunPull(*command.value);
    case CommandKind::Keygen:
        return RunKeygen(command.value->keyFile);
    case CommandKind::Sign:
        return RunSign(command.value->mirrorRoot, command.value->keyFile);
    case CommandKind::Update:
        return RunUpdateCommand(command.value->gameFolder, command.value->repair);
    }
    return kExitFailed;
}
