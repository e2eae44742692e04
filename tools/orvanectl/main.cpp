// orvanectl: publishes a game folder as a release into a download mirror, checks mirrors, and
// updates game folders without a window.
// Run "orvanectl --help" for the commands.
#include "orvanectl/command.h"
#include "orvanectl/command_help.h"
#include "orvanectl/console.h"
#include "orvanectl/interrupt.h"
#include "orvanectl/json_text.h"
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

#include <string>
#include <vector>

namespace {

using namespace Orv::Publisher;

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

int RunPublish(const PublishRequest& request) {
    const InterruptScope interrupt;
    const auto summary = Publish(
        request, [](const std::wstring& line) { PrintNote(line); }, interrupt.Token());
    if (interrupt.Interrupted() && !summary) {
        PrintErrorLine(fmt::format(L"publish stopped: {}", summary.message));
        return kExitInterrupted;
    }
    if (!summary) {
        PrintFailure(L"publish", summary.message);
        return kExitFailed;
    }
    PrintLine(SummaryText(*summary.value));
    return kExitDone;
}

std::wstring VerifyJson(const VerifyReport& report, bool ok) {
    const wchar_t* signature = L"none";
    switch (report.signature) {
    case SignatureCheck::None:
        break;
    case SignatureCheck::NotChecked:
        signature = L"not checked";
        break;
    case SignatureCheck::Holds:
        signature = report.refusal.empty() ? L"holds" : L"refused";
        break;
    case SignatureCheck::Fails:
        signature = L"fails";
        break;
    }
    JsonObject json;
    json.Text("command", L"verify")
        .Flag("ok", ok)
        .Text("mirror", report.mirrorRoot)
        .Number("release", report.release)
        .Number("files", static_cast<int64_t>(report.files))
        .Number("objects", static_cast<int64_t>(report.objects))
        .Number("bytes", static_cast<int64_t>(report.objectBytes))
        .Number("chunks", static_cast<int64_t>(report.chunks))
        .Number("packs", static_cast<int64_t>(report.packs))
        .Text("signature", signature)
        .Texts("problems", report.problems);
    return json.Line();
}

int RunVerify(const Command& command) {
    const std::wstring& mirrorRoot = command.mirrorRoot;
    const CommonOptions& common = command.common;
    const LineSink say = [](const std::wstring& line) { PrintNote(line); };
    const bool web = IsWebAddress(mirrorRoot);
    const auto report = web ? VerifyWebMirror(mirrorRoot, command.publicKey, command.quick, say)
                            : VerifyMirror(mirrorRoot, command.publicKey, say);
    if (!report) {
        PrintFailure(L"verify", report.message);
        if (common.json) {
            PrintLine(JsonObject()
                          .Text("command", L"verify")
                          .Flag("ok", false)
                          .Text("mirror", mirrorRoot)
                          .Texts("problems", {report.message})
                          .Line());
        }
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
        PrintNote(SignatureText(*report.value));
    }
    const bool ok = report.value->problems.empty() && !signatureBad;
    for (const std::wstring& problem : report.value->problems) {
        PrintErrorLine(fmt::format(L"{} {}", web ? L"bad:" : L"bad object", problem));
    }
    if (!report.value->problems.empty()) {
        PrintErrorLine(report.value->packs == 0
                           ? fmt::format(L"verify failed: {} of {} objects are bad",
                                         report.value->problems.size(), report.value->objects)
                           : fmt::format(L"verify failed: {} problems in {} objects and {} packs",
                                         report.value->problems.size(), report.value->objects,
                                         report.value->packs));
    } else if (signatureBad) {
        PrintErrorLine(L"verify failed: a launcher with this key would refuse the manifest");
    }
    if (common.json) {
        PrintLine(VerifyJson(*report.value, ok));
    } else if (ok) {
        PrintLine(VerifySummaryText(*report.value));
    }
    return ok ? kExitDone : kExitFailed;
}

int RunPull(const Command& command) {
    // A problem is an error line, shown also with --quiet.
    const auto report =
        PullMirror(command.mirrorRoot, command.folder, command.publicKey, [](const std::wstring& line) {
            if (line.starts_with(L"bad: ")) {
                PrintErrorLine(line);
            } else {
                PrintNote(line);
            }
        });
    if (!report) {
        PrintFailure(L"pull", report.message);
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
        PrintFailure(L"keygen", key.message);
        return kExitFailed;
    }
    // Standard output holds the public key alone, so that a script can take it as it is.
    PrintLine(Orv::Utf8ToWide(key.value->publicKey));
    return kExitDone;
}

int RunSign(const std::wstring& mirrorRoot, const std::wstring& keyFile) {
    const auto summary = SignMirror(mirrorRoot, keyFile);
    if (!summary) {
        PrintFailure(L"sign", summary.message);
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
    SetQuiet(command.value->common.quiet);
    SetNotesToErrors(command.value->common.json);
    switch (command.value->kind) {
    case CommandKind::Help:
        PrintLine(command.value->helpTopic == CommandKind::Help ? OverviewText()
                                                                : CommandHelpText(command.value->helpTopic));
        return kExitDone;
    case CommandKind::Version:
        PrintLine(VersionText());
        return kExitDone;
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
        return RunUpdateCommand(command.value->gameFolder, command.value->repair, command.value->common);
    }
    return kExitFailed;
}
