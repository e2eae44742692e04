#include "update/pack/pack_index.h"

#include "core/text.h"
#include "update/downloader.h"
#include "update/sha256.h"

#include <fmt/format.h>

#include <algorithm>

namespace Orv {
namespace {

using Result = Outcome<PackIndex>;

std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    for (size_t start = 0;;) {
        const size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string_view::npos ? tab : tab - start));
        if (tab == std::string_view::npos) {
            return fields;
        }
        start = tab + 1;
    }
}

Result Refused(size_t line, std::string_view why) {
    return Result::Failure(Utf8ToWide(fmt::format("line {}: {}", line, why)));
}

// No object of a pack overlaps another.
std::optional<std::string> FindOverlap(const PackIndex& index) {
    std::vector<std::pair<PackSpot, const std::string*>> spots;
    spots.reserve(index.objects.size());
    for (const auto& [name, spot] : index.objects) {
        spots.emplace_back(spot, &name);
    }
    std::sort(spots.begin(), spots.end(), [](const auto& a, const auto& b) {
        return a.first.pack != b.first.pack ? a.first.pack < b.first.pack : a.first.offset < b.first.offset;
    });
    for (size_t i = 1; i < spots.size(); ++i) {
        const PackSpot& before = spots[i - 1].first;
        const PackSpot& spot = spots[i].first;
        if (before.pack == spot.pack && before.offset + before.length > spot.offset) {
            return fmt::format("{} and {} overlap in pack {}", *spots[i - 1].second, *spots[i].second,
                               index.packs[spot.pack].sha256);
        }
    }
    return std::nullopt;
}

} // namespace

std::string PackObjectName(const FileEntry& entry) {
    return entry.sha256 + WideToUtf8(ObjectSuffix(entry));
}

bool IsPackObjectName(std::string_view name) {
    const std::string_view suffix = name.size() >= 64 ? name.substr(64) : std::string_view("-");
    return IsSha256Hex(name.substr(0, 64)) && (suffix.empty() || suffix == ".z" || suffix == ".c");
}

Outcome<PackIndex> ParsePackIndex(std::string_view text) {
    if (text.size() > kPackIndexLimit) {
        return Refused(0, "the index is too large");
    }
    PackIndex index;
    size_t number = 0;
    for (size_t position = 0; position < text.size();) {
        size_t end = text.find('\n', position);
        end = end == std::string_view::npos ? text.size() : end;
        const std::string_view line = text.substr(position, end - position);
        position = end + 1;
        ++number;
        const std::vector<std::string_view> fields = Fields(line);
        if (number == 1) {
            if (line != "format\t1") {
                return Refused(number, "the index does not begin with format 1");
            }
            continue;
        }
        if (fields.size() == 3 && fields[0] == "pack") {
            const auto size = ReadPlainDecimal(fields[2], kPackLimit);
            if (!IsSha256Hex(fields[1]) || !size || *size == 0) {
                return Refused(number, "a pack row that does not parse");
            }
            const bool listed = std::any_of(index.packs.begin(), index.packs.end(),
                                            [&](const PackFile& pack) { return pack.sha256 == fields[1]; });
            if (listed) {
                return Refused(number, "a pack listed twice");
            }
            index.packs.push_back({std::string(fields[1]), *size});
            continue;
        }
        const auto offset = fields.size() == 3 ? ReadPlainDecimal(fields[1], kPackLimit) : std::nullopt;
        const auto length = fields.size() == 3 ? ReadPlainDecimal(fields[2], kPackLimit) : std::nullopt;
        if (!offset || !length || *length == 0 || !IsPackObjectName(fields[0])) {
            return Refused(number, "a row that does not parse");
        }
        if (index.packs.empty()) {
            return Refused(number, "an object row before any pack row");
        }
        const uint32_t pack = static_cast<uint32_t>(index.packs.size() - 1);
        if (*offset + *length > index.packs[pack].size) {
            return Refused(number, "an object that lies outside its pack");
        }
        if (!index.objects.try_emplace(std::string(fields[0]), PackSpot{pack, *offset, *length}).second) {
            return Refused(number, "an object listed twice");
        }
    }
    if (number == 0) {
        return Refused(0, "the index is empty");
    }
    if (const auto overlap = FindOverlap(index)) {
        return Result::Failure(Utf8ToWide(*overlap));
    }
    return Result::Success(std::move(index));
}

std::string PackIndexText(const std::vector<PackFile>& packs, std::vector<PackEntry> entries) {
    std::sort(entries.begin(), entries.end(), [](const PackEntry& a, const PackEntry& b) {
        return a.spot.pack != b.spot.pack ? a.spot.pack < b.spot.pack : a.spot.offset < b.spot.offset;
    });
    std::string text = "format\t1\n";
    size_t next = 0;
    for (uint32_t p = 0; p < packs.size(); ++p) {
        text += fmt::format("pack\t{}\t{}\n", packs[p].sha256, packs[p].size);
        for (; next < entries.size() && entries[next].spot.pack == p; ++next) {
            const PackEntry& entry = entries[next];
            text += fmt::format("{}\t{}\t{}\n", entry.name, entry.spot.offset, entry.spot.length);
        }
    }
    return text;
}

} // namespace Orv
