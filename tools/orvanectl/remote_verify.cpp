#include "orvanectl/remote_verify.h"

#include "core/text.h"
#include "orvanectl/object_check.h"
#include "orvanectl/pack_check.h"
#include "orvanectl/pack_files.h"
#include "orvanectl/web_source.h"
#include "partners/download_server.h"
#include "update/http_client.h"
#include "update/manifest.h"

#include <windows.h>

#include <fmt/xchar.h>

#include <algorithm>
#include <span>
#include <tuple>

namespace Orv::Publisher {
namespace {

// What a range request on one file came to.
struct RangeAnswer {
    std::optional<std::wstring> problem;
    bool whole = false; // answered with 200 and the whole file
};

// Asks for the range and hands its bytes to the sink; what is wrong with the answer other than its bytes.
RangeAnswer AskRange(const WebSource& source, const ListedFile& file, const ByteRange& range,
                     const ByteSink& sink) {
    ResponseHeaders headers;
    const BodySink body = [&](std::span<const char> piece) {
        return sink(reinterpret_cast<const unsigned char*>(piece.data()), piece.size());
    };
    const HttpResult result = HttpGetRange(source.NameOf(file.name), range, body, {}, &headers);
    RangeAnswer answer;
    const std::wstring asked = fmt::format(L"the range \"bytes={}-{}\"", range.first, range.last);
    if (result.badRange) {
        answer.problem = fmt::format(L"answers {} with \"Content-Range: {}\"", asked, headers.contentRange);
    } else if (!headers.contentEncoding.empty()) {
        answer.problem =
            fmt::format(L"answers {} with \"Content-Encoding: {}\"", asked, headers.contentEncoding);
    } else if ((result.status != 200 && result.status != 206) || result.error != 0) {
        answer.problem = fmt::format(L"{}: {}", asked, HttpProblemText(result, {}));
    }
    answer.whole = result.status == 200;
    return answer;
}

std::wstring WholeAnswerWarning(const std::wstring& what) {
    return fmt::format(L"{}: answers a range request with 200 and the whole file: launchers resume "
                       L"downloads and read packs more slowly from this mirror",
                       what);
}

bool Named(const VerifyReport& report, const std::wstring& url) {
    return std::any_of(report.problems.begin(), report.problems.end(),
                       [&](const std::wstring& problem) { return problem.starts_with(url); });
}

// A range of the second half of the smallest object of at least two bytes must be those bytes of it.
void CheckObjectRange(const WebSource& source, const Manifest& manifest, VerifyReport& report) {
    const FileEntry* chosen = nullptr;
    for (const FileEntry& entry : manifest.files) {
        if (entry.zsize >= 2 && (chosen == nullptr || entry.zsize < chosen->zsize)) {
            chosen = &entry;
        }
    }
    if (chosen == nullptr) {
        return;
    }
    const ListedFile file = ObjectFileOf({chosen->sha256, chosen->size, chosen->zsize, chosen->compressed});
    const std::wstring url = source.NameOf(file.name);
    if (Named(report, url)) {
        return; // its problem is already told
    }
    auto whole = ReadWhole(source, file, {});
    if (!whole) {
        report.problems.push_back(fmt::format(L"{}: {}", url, whole.message));
        return;
    }
    const ByteRange range{file.size / 2, file.size - 1, file.size};
    std::string got;
    const RangeAnswer answer = AskRange(source, file, range, [&](const unsigned char* data, size_t length) {
        got.append(reinterpret_cast<const char*>(data), length);
        return true;
    });
    if (answer.problem) {
        report.problems.push_back(fmt::format(L"{}: {}", url, *answer.problem));
    } else if (got != whole.value->substr(static_cast<size_t>(range.first))) {
        report.problems.push_back(fmt::format(L"{}: answers the range \"bytes={}-{}\" with other bytes than "
                                              L"the file holds there",
                                              url, range.first, range.last));
    } else if (answer.whole) {
        report.warnings.push_back(WholeAnswerWarning(url));
    }
}

// A range of one object of a pack (the first that does not start the pack, when there is one) must be
// a good object of its name.
void CheckPackRange(const WebSource& source, const PackIndex& index, VerifyReport& report) {
    const std::pair<const std::string, PackSpot>* chosen = nullptr;
    const auto order = [](const PackSpot& spot) {
        return std::tuple(spot.offset == 0, spot.pack, spot.offset);
    };
    for (const auto& object : index.objects) {
        if (chosen == nullptr || order(object.second) < order(chosen->second)) {
            chosen = &object;
        }
    }
    if (chosen == nullptr) {
        return;
    }
    const PackFile& pack = index.packs[chosen->second.pack];
    const ListedFile file{PackName(pack.sha256, DownloadServer::kPackSuffix), pack.size, L"the index"};
    const std::wstring url = source.NameOf(file.name);
    if (Named(report, url)) {
        return;
    }
    const PackSpot& spot = chosen->second;
    ObjectBytesCheck check(ExpectationOf(chosen->first, {}));
    const RangeAnswer answer =
        AskRange(source, file, ByteRange{spot.offset, spot.offset + spot.length - 1, pack.size},
                 [&](const unsigned char* data, size_t length) {
                     check.Add(data, length);
                     return true;
                 });
    if (answer.problem) {
        report.problems.push_back(fmt::format(L"{}: {}", url, *answer.problem));
    } else if (const auto problem = check.Finish()) {
        report.problems.push_back(fmt::format(L"{}: the range \"bytes={}-{}\" of {}: {}", url, spot.offset,
                                              spot.offset + spot.length - 1, Utf8ToWide(chosen->first),
                                              *problem));
    } else if (answer.whole) {
        report.warnings.push_back(WholeAnswerWarning(url));
    }
}

} // namespace

Outcome<VerifyReport> VerifyWebMirror(const std::wstring& baseUrl, const std::string& publicKey, bool quick,
                                      const LineSink& say) {
    const WebSource source(baseUrl);
    // The launcher adds "?t=" with its tick count to get past caches: every value must give the same text.
    const uint64_t tick = ::GetTickCount64();
    auto text = source.FetchManifest(tick, {});
    if (!text) {
        return Outcome<VerifyReport>::Failure(text.message);
    }
    const std::string first = *text.value;
    auto report = VerifySource(source, std::move(*text.value), publicKey, quick, say);
    if (!report) {
        return report;
    }
    const auto again = source.FetchManifest(tick + 1, {});
    if (!again) {
        report.value->problems.push_back(again.message);
    } else if (*again.value != first) {
        report.value->problems.push_back(
            fmt::format(L"{}: is not the text of {}: a cache answers launchers with different manifests",
                        DownloadServer::ManifestUrl(source.Where(), tick + 1),
                        DownloadServer::ManifestUrl(source.Where(), tick)));
    }
    if (!quick) {
        if (auto manifest = ParseManifest(first)) {
            CheckObjectRange(source, *manifest.value, *report.value);
        }
        if (report.value->packIndex) {
            CheckPackRange(source, *report.value->packIndex, *report.value);
        }
    }
    return report;
}

} // namespace Orv::Publisher
