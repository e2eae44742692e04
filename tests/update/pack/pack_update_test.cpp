// Whole runs that take small files and chunks from packs, against mirrors that serve packs badly.
#include "../update_run_fixture.h"

#include "update/pack/pack_index.h"

#include <filesystem>
#include <algorithm>
#include <functional>
#include <map>
#include <regex>
#include <vector>

namespace Orv {
namespace {

using Support::ReadFileOrEmpty;
using Support::WriteFileBytes;

class PackUpdate : public UpdateRunTest {
protected:
    void SetUp() override {
        UpdateRunTest::SetUp();
        for (int i = 0; i < 40; ++i) {
            WriteFileBytes(source / (L"ui\\panel " + std::to_wstring(i) + L".txt"),
                           Support::SampleBytes(200 + 97 * i, 100 + i, i % 2 == 0));
        }
    }
    std::wstring PathOf(const std::wstring& folder) const { return Support::MirrorRoot() + L"\\" + folder; }
    // The files of the mirror folder's packs folder that end so.
    std::vector<std::wstring> PacksFolder(const std::wstring& folder, const wchar_t* ending) const {
        std::vector<std::wstring> found;
        for (const auto& item : std::filesystem::recursive_directory_iterator(PathOf(folder) + L"\\packs")) {
            if (item.path().wstring().ends_with(ending)) {
                found.push_back(item.path().wstring());
            }
        }
        return found;
    }
    // A second mirror folder with the release, spoiled by `spoil`.
    std::wstring CopyMirror(const std::function<void(const std::wstring&)>& spoil) {
        const std::wstring copy = mirrorName + L"-b";
        std::filesystem::copy(MirrorPath(), PathOf(copy), std::filesystem::copy_options::recursive);
        spoil(copy);
        return copy;
    }
    void UseMirrors(const std::vector<std::wstring>& urls) {
        std::string text;
        for (const std::wstring& url : urls) {
            text += WideToUtf8(url) + "/\n";
        }
        WriteFileBytes(game / L".orvane\\mirrors.txt", text);
    }
    // The fault server's requests whose path holds the text.
    std::vector<Support::RequestRecord> Requests(const std::string& part) {
        std::vector<Support::RequestRecord> found;
        for (const auto& record : Support::FaultRequests()) {
            if (record.path.find(part) != std::string::npos) {
                found.push_back(record);
            }
        }
        return found;
    }
    // The URL path of a file below the mirror root.
    static std::string UrlPathOf(const std::wstring& path) {
        std::string relative = WideToUtf8(path.substr(Support::MirrorRoot().size()));
        std::replace(relative.begin(), relative.end(), '\\', '/');
        return relative;
    }
    // The game folder as a new player's: only the mirror list.
    void ClearGame() {
        OpenLog(scratch / L"between runs.log");
        Support::MakeDirectories(game / L".orvane");
        for (const auto& item : std::filesystem::directory_iterator(game.Path())) {
            if (item.path().filename() != L".orvane") {
                std::filesystem::remove_all(item.path());
            }
        }
        for (const auto& item : std::filesystem::directory_iterator(game / L".orvane")) {
            if (item.path().filename() != L"mirrors.txt") {
                std::filesystem::remove_all(item.path());
            }
        }
    }
    // Replaces the release's pack index with the text `change` makes of it, and names it in the manifest.
    void ChangeIndex(const std::function<std::string(std::string)>& change) {
        const std::string text =
            change(Support::Inflate(ReadFileOrEmpty(PacksFolder(mirrorName, L".index")[0])));
        const std::string sha = Support::Sha256Hex(text);
        const std::string object = Support::Deflate(text);
        WriteFileBytes(PathOf(mirrorName) + L"\\packs\\" + Utf8ToWide(sha.substr(0, 2)) + L"\\" +
                           Utf8ToWide(sha) + L".index",
                       object);
        const std::wstring manifest = MirrorPath() + L"\\manifest.txt";
        WriteFileBytes(manifest, std::regex_replace(ReadFileOrEmpty(manifest), std::regex("\np\t[^\n]*\n"),
                                                    "\np\t" + sha + "\t" + std::to_string(text.size()) +
                                                        "\t" + std::to_string(object.size()) + "\n"));
    }
    Support::TempFolder scratch;

    void ExpectDoneWithTheRelease() {
        ASSERT_EQ(progress.phase.load(), Phase::Done) << WideToUtf8(Status()) << LogText();
        ExpectGameMatchesSource();
        EXPECT_EQ(progress.bytesDone.load(), progress.bytesTotal.load());
    }
};

TEST_F(PackUpdate, AFreshInstallTakesTheSmallFilesInAFewRangesAndCountsEachByteOnce) {
    Publish(1);
    UseMirror(Support::FaultBase());
    std::atomic<bool> ended{false};
    std::atomic<bool> wentBack{false};
    std::jthread watcher([&] {
        uint64_t last = 0;
        while (!ended.load()) {
            const uint64_t done = progress.bytesDone.load();
            wentBack = wentBack || done < last || (done > progress.bytesTotal.load());
            last = done;
        }
    });
    Run();
    ended = true;
    watcher.join();
    ExpectDoneWithTheRelease();
    EXPECT_FALSE(wentBack.load());
    EXPECT_TRUE(Requests("/objects/").empty());
    const auto ranges = Requests(".pack");
    EXPECT_GE(ranges.size(), 2U);
    EXPECT_LE(ranges.size(), 12U);
    for (const auto& request : ranges) {
        EXPECT_TRUE(std::regex_match(request.range, std::regex("bytes=[0-9]+-[0-9]+"))) << request.range;
        EXPECT_EQ(request.status, 206);
    }
    EXPECT_EQ(Requests(".index").size(), 1U);
}

TEST_F(PackUpdate, AMirrorThatSpoilsItsPacksOrIndexLeavesThemToTheNext) {
    Publish(1);
    const auto flip = [](const std::wstring& path) {
        std::string bytes = ReadFileOrEmpty(path);
        bytes[bytes.size() / 2] ^= 0x20;
        WriteFileBytes(path, bytes);
    };
    struct Spoil {
        std::function<void(const std::wstring&)> apply;
        std::string logged; // after the spoiled mirror's URL when it starts with "/", else on its own
    };
    const std::map<std::string, Spoil> spoils{
        {"pack missing",
         {[&](const std::wstring& m) { std::filesystem::remove(PacksFolder(m, L".pack")[0]); },
          "/ failed (attempt 1): File not found on the server (404)."}},
        {"pack shorter",
         {[&](const std::wstring& m) { std::filesystem::resize_file(PacksFolder(m, L".pack")[0], 500); },
          "/ failed (attempt 1): "}},
        {"pack longer",
         {[&](const std::wstring& m) {
              const std::wstring pack = PacksFolder(m, L".pack")[0];
              WriteFileBytes(pack, ReadFileOrEmpty(pack) + std::string(5000, 'x'));
          },
          "/ failed (attempt 1): the answer is another range (Content-Range)"}},
        {"pack altered",
         {[&](const std::wstring& m) { flip(PacksFolder(m, L".pack")[0]); },
          "/ failed (attempt 1): Engine.exe in it does not verify"}}, // the pack is mostly Engine.exe
        {"index missing",
         {[&](const std::wstring& m) { std::filesystem::remove(PacksFolder(m, L".index")[0]); },
          "/ failed (attempt 1): File not found on the server (404)."}},
        {"index altered",
         {[&](const std::wstring& m) { flip(PacksFolder(m, L".index")[0]); },
          "place pack index: Downloaded file is corrupt"}},
        {"index shorter",
         {[&](const std::wstring& m) { std::filesystem::resize_file(PacksFolder(m, L".index")[0], 100); },
          "get pack index: short (100 of "}},
        {"index longer",
         {[&](const std::wstring& m) {
              const std::wstring index = PacksFolder(m, L".index")[0];
              WriteFileBytes(index, ReadFileOrEmpty(index) + "more");
          },
          "/ failed (attempt 1): longer than the object's "}},
    };
    for (const auto& [name, spoil] : spoils) {
        SCOPED_TRACE(name);
        const std::wstring spoiled = CopyMirror(spoil.apply);
        ClearGame();
        UseMirrors({Support::HttpBase() + spoiled, Support::HttpBase() + mirrorName});
        Run();
        ExpectDoneWithTheRelease();
        const std::string logged = spoil.logged.starts_with("/")
                                       ? WideToUtf8(Support::HttpBase() + spoiled) + spoil.logged
                                       : spoil.logged;
        EXPECT_NE(LogText().find(logged), std::string::npos) << LogText();
        EXPECT_EQ(LogText().find("fetched loose"), std::string::npos) << LogText();
        std::filesystem::remove_all(PathOf(spoiled));
    }
}

TEST_F(PackUpdate, AnswersThatAreNotTheRangeAskedForEndTheAttempt) {
    Publish(1);
    const std::string pack = UrlPathOf(PacksFolder(mirrorName, L".pack")[0]);
    const std::map<std::string, std::string> rules{
        {"416", R"({"status": 416})"},
        {"another range", R"({"content_range": "bytes 0-9/10"})"},
        {"broken off", R"({"drop_after": 700})"},
        {"whole pack", R"({"ignore_range": true})"},
    };
    for (const auto& [name, rule] : rules) {
        SCOPED_TRACE(name);
        ClearGame();
        Support::SetFaultRules("{\"" + pack + "\": " + rule + "}");
        Support::ClearFaultRequests();
        UseMirrors({Support::FaultBase() + mirrorName, Support::HttpBase() + mirrorName});
        Run();
        ExpectDoneWithTheRelease();
        EXPECT_EQ(LogText().find("fetched loose"), std::string::npos) << LogText();
        if (name == "whole pack") {
            EXPECT_EQ(LogText().find(" failed (attempt"), std::string::npos) << LogText();
        } else {
            EXPECT_NE(LogText().find(WideToUtf8(Support::FaultBase() + mirrorName) + "/ failed (attempt 1)"),
                      std::string::npos)
                << LogText();
        }
    }
}

TEST_F(PackUpdate, AnAnswerThatBreaksOffKeepsItsObjectsAndAsksOnlyForTheRest) {
    // Small objects that do not compress: an answer cut after 4,000 bytes has delivered two of them.
    ::DeleteFileW((source / L"Engine.exe").c_str());
    for (int i = 0; i < 40; ++i) {
        WriteFileBytes(source / (L"ui\\panel " + std::to_wstring(i) + L".txt"),
                       Support::RandomBytes(1500, i));
    }
    Publish(1);
    const std::string pack = UrlPathOf(PacksFolder(mirrorName, L".pack")[0]);
    Support::SetFaultRules("{\"" + pack + "\": {\"drop_after\": 4000, \"drop_times\": 3}}");
    UseMirrors({Support::FaultBase() + mirrorName, Support::FaultBase() + mirrorName});
    Run();
    ExpectDoneWithTheRelease();
    std::map<std::string, std::vector<uint64_t>> starts; // by pack, then end
    for (const auto& request : Requests(".pack")) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(request.range, match, std::regex("bytes=([0-9]+)-([0-9]+)")));
        starts[match[2]].push_back(std::stoull(match[1]));
    }
    size_t resumed = 0;
    for (const auto& [end, from] : starts) {
        for (size_t i = 1; i < from.size(); ++i) {
            EXPECT_GE(from[i], from[i - 1]) << "a range asked again starts after what was kept";
            resumed += from[i] > from[i - 1] ? 1 : 0;
        }
    }
    EXPECT_GT(resumed, 0U);
}

TEST_F(PackUpdate, AnIndexThatCouldMisplaceObjectsIsNotUsed) {
    Publish(1);
    // The index's lines: the format, the first pack, its first and second objects, and so on.
    const auto lines = [](const std::string& text) {
        std::vector<std::string> split;
        for (size_t start = 0; start < text.size();) {
            const size_t end = text.find('\n', start);
            split.push_back(text.substr(start, end - start));
            start = end + 1;
        }
        return split;
    };
    const auto join = [](const std::vector<std::string>& split) {
        std::string text;
        for (const std::string& line : split) {
            text += line + "\n";
        }
        return text;
    };
    const auto offset = [](std::string& row, const std::string& value) {
        const size_t from = row.find('\t') + 1;
        row.replace(from, row.find('\t', from) - from, value);
    };
    const std::map<std::string, std::function<std::string(std::string)>> changes{
        {"outside its pack",
         [&](std::string text) {
             auto split = lines(text);
             offset(split[2], split[1].substr(split[1].rfind('\t') + 1)); // at the pack's end
             return join(split);
         }},
        {"overlapping",
         [&](std::string text) {
             auto split = lines(text);
             offset(split[3], "1");
             return join(split);
         }},
        {"no pack covers it",
         [&](std::string text) {
             auto split = lines(text);
             std::swap(split[1], split[2]);
             return join(split);
         }},
    };
    UseMirror(Support::FaultBase());
    for (const auto& [name, change] : changes) {
        SCOPED_TRACE(name);
        ClearGame();
        Publish(1);
        ChangeIndex(change);
        Support::ClearFaultRequests();
        Run();
        ExpectDoneWithTheRelease();
        EXPECT_NE(LogText().find("packs: the index is refused ("), std::string::npos) << LogText();
        EXPECT_TRUE(Requests(".pack").empty());
    }
}

TEST_F(PackUpdate, WhatNoPackDeliversComesLooseAndWhatNothingDeliversFailsClearly) {
    Publish(1);
    for (const std::wstring& pack : PacksFolder(mirrorName, L".pack")) {
        std::filesystem::remove(pack);
    }
    UseMirror(Support::HttpBase());
    Run();
    ExpectDoneWithTheRelease();
    EXPECT_NE(LogText().find("objects are fetched loose"), std::string::npos) << LogText();

    ClearGame();
    const FileEntry& panel = Support::EntryOf(Support::ReadManifest(MirrorPath()), L"ui\\panel 7.txt");
    std::filesystem::remove(Support::ObjectPath(MirrorPath(), panel));
    Run();
    EXPECT_EQ(progress.phase.load(), Phase::Failed);
    EXPECT_EQ(Status(),
              L"The update could not be completed.\nui\\panel 7.txt: File not found on the server (404). "
              L"An update may be in progress, try again in a few minutes.");
}

TEST_F(PackUpdate, AMirrorWithoutPacksIsReadAsBefore) {
    Publish(1, {L"--no-packs"});
    UseMirror(Support::FaultBase());
    Run();
    ExpectDoneWithTheRelease();
    EXPECT_TRUE(Requests("/packs/").empty());
    EXPECT_EQ(LogText().find("packs:"), std::string::npos) << LogText();
    EXPECT_EQ(Requests("/objects/").size(), SourceFiles() + 40 - 1); // one content is in two files
}

} // namespace
} // namespace Orv
