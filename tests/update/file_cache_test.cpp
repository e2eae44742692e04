#include "core/handles.h"
#include "core/text.h"
#include "support/test_folder.h"
#include "update/file_cache.h"
#include "update/file_check.h"
#include "update/sha256.h"
#include "update/update_progress.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <sstream>
#include <stop_token>
#include <string>
#include <vector>

namespace Orv {
namespace {

using Support::Exists;
using Support::ReadFileOrEmpty;
using Support::TempFolder;
using Support::WriteFileBytes;

constexpr uint64_t kSecond = 10000000; // FILETIME ticks

std::string HashOf(const std::string& bytes) {
    Sha256 hash;
    hash.Update(bytes.data(), bytes.size());
    return hash.Finish().value_or(std::string());
}

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

FileEntry Entry(const std::wstring& path, uint64_t size, const std::string& sha256, char kind = '-') {
    FileEntry entry;
    entry.path = path;
    entry.size = size;
    entry.sha256 = sha256;
    entry.kind = kind;
    return entry;
}

FileStat Stat(uint64_t size, uint64_t lastWriteTime) {
    FileStat stat;
    stat.exists = true;
    stat.size = size;
    stat.lastWriteTime = lastWriteTime;
    return stat;
}

void SetWriteTime(const std::wstring& path, uint64_t ticks) {
    FileHandle file(::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file.Valid()) << ::GetLastError();
    FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    ASSERT_TRUE(::SetFileTime(file.Get(), nullptr, nullptr, &time)) << ::GetLastError();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

const std::string kHashA = HashOf("a");
const std::string kHashB = HashOf("b");

// The cache file of one game folder.
class FileCacheFile : public ::testing::Test {
protected:
    TempFolder folder;
    const std::wstring path = folder / L"filecache.txt";
};

TEST_F(FileCacheFile, MissingFileLoadsNothing) {
    FileCache cache(path);
    cache.Load();
    EXPECT_EQ(cache.Count(), 0U);
    EXPECT_FALSE(cache.IsKnownGood(Entry(L"a.dat", 1, kHashA), Stat(1, 1), kHashA));
}

TEST_F(FileCacheFile, BadLinesAreSkippedAndTheOthersLoad) {
    WriteFileBytes(path, "10 100 " + kHashA + " data\\a.dat\n" +                          // good
                             "11 101 " + kHashA.substr(1) + " data\\b.dat\n" +            // 63 characters
                             "12 102 " + kHashA + "0 data\\c.dat\n" +                     // 65 characters
                             "x13 103 " + kHashA + " data\\d.dat\n" +                     // size not a number
                             "14 y104 " + kHashA + " data\\e.dat\n" +                     // time not a number
                             "-15 105 " + kHashA + " data\\f.dat\n" +                     // negative size
                             "99999999999999999999999 106 " + kHashA + " data\\g.dat\n" + // too large
                             "16 107 " + kHashA + "\n" +                                  // no path
                             "17 108 " + kHashA + "   \n" +                               // blanks only
                             "18 109\n" +                                                 // no hash
                             "\n" +                                                       // empty
                             "19 110 " + kHashB + " data\\h.dat");                        // no newline
    FileCache cache(path);
    cache.Load();
    EXPECT_EQ(cache.Count(), 2U);
    EXPECT_TRUE(cache.IsKnownGood(Entry(L"data\\a.dat", 10, kHashA), Stat(10, 100), kHashA));
    EXPECT_TRUE(cache.IsKnownGood(Entry(L"data\\h.dat", 19, kHashB), Stat(19, 110), kHashB));
    EXPECT_FALSE(cache.IsKnownGood(Entry(L"data\\d.dat", 13, kHashA), Stat(13, 103), kHashA));
}

TEST_F(FileCacheFile, CrLfFileLoadsLikeAnLfFile) {
    WriteFileBytes(path, "10 100 " + kHashA + " data\\a.dat\r\n" + "20 200 " + kHashB + " data\\b c.dat\r\n");
    FileCache cache(path);
    cache.Load();
    EXPECT_EQ(cache.Count(), 2U);
    EXPECT_TRUE(cache.IsKnownGood(Entry(L"data\\a.dat", 10, kHashA), Stat(10, 100), kHashA));
    EXPECT_TRUE(cache.IsKnownGood(Entry(L"data\\b c.dat", 20, kHashB), Stat(20, 200), kHashB));
}

TEST_F(FileCacheFile, LaterLineForTheSameFileWins) {
    WriteFileBytes(path, "10 100 " + kHashA + " Data\\A.dat\n" + "11 111 " + kHashB + " data\\a.DAT\n");
    FileCache cache(path);
    cache.Load();
    EXPECT_EQ(cache.Count(), 1U);
    EXPECT_TRUE(cache.IsKnownGood(Entry(L"data\\a.dat", 11, kHashB), Stat(11, 111), kHashB));
    EXPECT_FALSE(cache.IsKnownGood(Entry(L"data\\a.dat", 10, kHashA), Stat(10, 100), kHashA));
}

TEST_F(FileCacheFile, SavedFileIsLfOnlyLowerCaseAndLoadsBack) {
    FileCache cache(path);
    cache.Remember(Entry(L"Data\\Maps\\Town.DAT", 10, kHashA), Stat(10, 130000000000000000ULL), kHashA);
    cache.Remember(Entry(L"my game\\read me.txt", 0, kHashB), Stat(0, 5), kHashB);
    cache.Save();
    EXPECT_FALSE(Exists(path + L".tmp"));

    const std::string text = ReadFileOrEmpty(path);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    auto lines = Lines(text);
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::string>{"0 5 " + kHashB + " my game\\read me.txt",
                                               "10 130000000000000000 " + kHashA + " data\\maps\\town.dat"}));

    FileCache again(path);
    again.Load();
    EXPECT_EQ(again.Count(), 2U);
    EXPECT_TRUE(again.IsKnownGood(Entry(L"data\\maps\\town.dat", 10, kHashA), Stat(10, 130000000000000000ULL),
                                  kHashA));
    EXPECT_TRUE(again.IsKnownGood(Entry(L"My Game\\Read Me.txt", 0, kHashB), Stat(0, 5), kHashB));
}

TEST_F(FileCacheFile, TurkishAndOtherUnicodePathsRoundTripAsUtf8) {
    // "veri\çarşı\İçerik 🎮.dat"
    const std::wstring name = L"veri\\\u00E7ar\u015F\u0131\\\u0130\u00E7erik \U0001F3AE.dat";
    FileCache cache(path);
    cache.Remember(Entry(name, 7, kHashA), Stat(7, 70), kHashA);
    cache.Save();
    const std::string text = ReadFileOrEmpty(path);
    EXPECT_EQ(text, "7 70 " + kHashA + " " + WideToUtf8(CacheKey(name)) + "\n");
    EXPECT_NE(text.find("\xC3\xA7"
                        "ar\xC5\x9F\xC4\xB1\\"),
              std::string::npos);
    EXPECT_NE(text.find("\xF0\x9F\x8E\xAE.dat"), std::string::npos);

    FileCache again(path);
    again.Load();
    EXPECT_TRUE(again.IsKnownGood(Entry(name, 7, kHashA), Stat(7, 70), kHashA));
}

TEST_F(FileCacheFile, HandWrittenUtf8LineMatchesTheWidePathInAnyCase) {
    // "veri\ÇARŞI.dat"
    WriteFileBytes(path, "5 50 " + kHashA +
                             " veri\\\xC3\x87"
                             "AR\xC5\x9EI.dat\n");
    FileCache cache(path);
    cache.Load();
    EXPECT_TRUE(cache.IsKnownGood(Entry(L"Veri\\\u00E7ar\u015Fi.dat", 5, kHashA), Stat(5, 50), kHashA));
    EXPECT_TRUE(cache.IsKnownGood(Entry(L"VERI\\\u00C7AR\u015EI.DAT", 5, kHashA), Stat(5, 50), kHashA));
}

TEST_F(FileCacheFile, SaveReplacesTheEarlierFile) {
    WriteFileBytes(path, "1 1 " + kHashB + " old.dat\n");
    FileCache cache(path);
    cache.Remember(Entry(L"new.dat", 2, kHashA), Stat(2, 2), kHashA);
    cache.Save();
    EXPECT_EQ(ReadFileOrEmpty(path), "2 2 " + kHashA + " new.dat\n");
    EXPECT_FALSE(Exists(path + L".tmp"));
}

TEST_F(FileCacheFile, SaveIntoAMissingFolderChangesNothing) {
    const std::wstring nowhere = folder / L"missing\\filecache.txt";
    FileCache cache(nowhere);
    cache.Remember(Entry(L"a.dat", 1, kHashA), Stat(1, 1), kHashA);
    cache.Save();
    EXPECT_FALSE(Exists(nowhere));
    EXPECT_FALSE(Exists(nowhere + L".tmp"));
}

TEST_F(FileCacheFile, SaveOnAFullDiskKeepsTheEarlierFile) {
    wchar_t root[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableW(L"ORV_SMALL_DISK", root, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        GTEST_SKIP() << "no small disk: mounting a tmpfs is not permitted here";
    }
    const std::wstring small = std::wstring(root) + L"\\cache_" + std::to_wstring(::GetCurrentProcessId());
    Support::MakeDirectories(small);
    struct Cleanup {
        std::wstring path;
        ~Cleanup() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    } cleanup{small};
    const std::wstring onDisk = small + L"\\filecache.txt";
    const std::string earlier = "1 1 " + kHashB + " old.dat\n";
    WriteFileBytes(onDisk, earlier);

    // Leave less room than the new cache needs.
    ULARGE_INTEGER available{};
    ASSERT_TRUE(::GetDiskFreeSpaceExW(small.c_str(), &available, nullptr, nullptr));
    ASSERT_LE(available.QuadPart, 16ULL * 1048576) << "ORV_SMALL_DISK is not a small disk";
    WriteFileBytes(small + L"\\filler", std::string(available.QuadPart - 64 * 1024, '\0'));
    FileCache cache(onDisk);
    for (int i = 0; i < 2000; ++i) {
        cache.Remember(Entry(L"data\\some folder\\file" + std::to_wstring(i) + L".dat", 1, kHashA),
                       Stat(1, 1), kHashA);
    }
    cache.Save();
    EXPECT_EQ(ReadFileOrEmpty(onDisk), earlier);
    EXPECT_FALSE(Exists(onDisk + L".tmp"));
}

// What the cache vouches for.
TEST(FileCacheEntries, KnownGoodNeedsTheSameSizeTimeAndHash) {
    FileCache cache(L"unused");
    const FileEntry entry = Entry(L"data\\a.dat", 10, kHashA);
    cache.Remember(entry, Stat(10, 100), kHashA);
    EXPECT_TRUE(cache.IsKnownGood(entry, Stat(10, 100), kHashA));
    EXPECT_FALSE(cache.IsKnownGood(entry, Stat(11, 100), kHashA));
    EXPECT_FALSE(cache.IsKnownGood(entry, Stat(10, 101), kHashA));
    EXPECT_FALSE(cache.IsKnownGood(entry, Stat(10, 100), kHashB));
    EXPECT_FALSE(cache.IsKnownGood(entry, Stat(10, 100), Upper(kHashA)));
    EXPECT_FALSE(cache.IsKnownGood(Entry(L"data\\b.dat", 10, kHashA), Stat(10, 100), kHashA));
}

TEST(FileCacheEntries, LookupsIgnoreLetterCase) {
    FileCache cache(L"unused");
    cache.Remember(Entry(L"Data\\Maps\\\u00C7AR\u015E.DAT", 10, kHashA), Stat(10, 100), kHashA);
    EXPECT_TRUE(
        cache.IsKnownGood(Entry(L"data\\maps\\\u00E7ar\u015F.dat", 10, kHashA), Stat(10, 100), kHashA));
    EXPECT_TRUE(
        cache.IsKnownGood(Entry(L"DATA\\MAPS\\\u00C7ar\u015F.Dat", 10, kHashA), Stat(10, 100), kHashA));
    cache.Remember(Entry(L"data\\maps\\\u00E7ar\u015F.dat", 10, kHashA), Stat(10, 100), kHashA);
    EXPECT_EQ(cache.Count(), 1U);
    EXPECT_EQ(CacheKey(L"Data\\Maps\\\u00C7AR\u015E.DAT"), L"data\\maps\\\u00E7ar\u015F.dat");
}

TEST(FileCacheEntries, RememberReplacesTheEarlierEntry) {
    FileCache cache(L"unused");
    const FileEntry entry = Entry(L"a.dat", 10, kHashA);
    cache.Remember(entry, Stat(10, 100), kHashA);
    cache.Remember(entry, Stat(12, 200), kHashB);
    EXPECT_EQ(cache.Count(), 1U);
    EXPECT_TRUE(cache.IsKnownGood(entry, Stat(12, 200), kHashB));
    EXPECT_FALSE(cache.IsKnownGood(entry, Stat(10, 100), kHashA));
}

// Deciding which files of a game folder must be downloaded.
class FileCheck : public ::testing::Test {
protected:
    // Writes the file and returns the entry that describes it.
    FileEntry Put(const std::wstring& relative, const std::string& content, char kind = '-') {
        WriteFileBytes(game / relative, content);
        return Entry(relative, content.size(), HashOf(content), kind);
    }
    bool Needs(const FileEntry& entry, std::stop_token stopToken = {}) {
        return NeedsDownload(entry, game.Path(), cache, stopToken);
    }
    FileStat StatOf(const FileEntry& entry) { return StatFile(game / entry.path); }

    TempFolder game;
    FileCache cache{game / L".orvane\\filecache.txt"};
};

TEST_F(FileCheck, RightFileWithoutACacheEntryIsHashedAndRemembered) {
    const FileEntry entry = Put(L"data\\a.dat", "good content");
    EXPECT_FALSE(Needs(entry));
    EXPECT_EQ(cache.Count(), 1U);
    EXPECT_TRUE(cache.IsKnownGood(entry, StatOf(entry), entry.sha256));
}

TEST_F(FileCheck, MissingFileIsFlagged) {
    EXPECT_TRUE(Needs(Entry(L"data\\missing.dat", 5, kHashA)));
    EXPECT_TRUE(Needs(Entry(L"missing folder\\missing.dat", 5, kHashA)));
}

TEST_F(FileCheck, FileOfAnotherSizeIsFlaggedAndNotRemembered) {
    FileEntry entry = Put(L"a.dat", "12345");
    entry.size = 6;
    EXPECT_TRUE(Needs(entry));
    EXPECT_EQ(cache.Count(), 0U);
}

TEST_F(FileCheck, FileWithOtherBytesOfTheSameSizeIsFlagged) {
    FileEntry entry = Put(L"a.dat", "12345");
    entry.sha256 = HashOf("12346");
    EXPECT_TRUE(Needs(entry));
    EXPECT_EQ(cache.Count(), 0U);
}

TEST_F(FileCheck, UpperCaseManifestHashIsFlagged) {
    FileEntry entry = Put(L"a.dat", "12345");
    entry.sha256 = Upper(entry.sha256);
    EXPECT_TRUE(Needs(entry));
}

TEST_F(FileCheck, FolderWhereTheFileShouldBeIsFlagged) {
    Support::MakeDirectories(game / L"data\\a.dat");
    EXPECT_TRUE(Needs(Entry(L"data\\a.dat", 0, HashOf(""))));
    EXPECT_TRUE(Needs(Entry(L"data\\a.dat", 0, HashOf(""), kKindKeep)));
}

TEST_F(FileCheck, KnownGoodFileIsAcceptedWithoutReadingIt) {
    // The bytes no longer match, but size and time are what the cache saw: it is trusted.
    FileEntry entry = Put(L"a.dat", "other bytes");
    entry.sha256 = HashOf("right bytes");
    cache.Remember(entry, StatOf(entry), entry.sha256);
    EXPECT_FALSE(Needs(entry));
}

TEST_F(FileCheck, TouchedFileIsHashedAgainAcceptedAndItsEntryUpdated) {
    const FileEntry entry = Put(L"a.dat", "same content");
    EXPECT_FALSE(Needs(entry));
    const FileStat before = StatOf(entry);
    ASSERT_NO_FATAL_FAILURE(SetWriteTime(game / entry.path, before.lastWriteTime + 10 * kSecond));
    const FileStat after = StatOf(entry);
    ASSERT_NE(after.lastWriteTime, before.lastWriteTime);
    EXPECT_FALSE(cache.IsKnownGood(entry, after, entry.sha256));

    EXPECT_FALSE(Needs(entry));
    EXPECT_TRUE(cache.IsKnownGood(entry, after, entry.sha256));
    EXPECT_EQ(cache.Count(), 1U);
}

TEST_F(FileCheck, TouchedFileWithOtherBytesIsFlagged) {
    const FileEntry entry = Put(L"a.dat", "first content");
    EXPECT_FALSE(Needs(entry));
    const uint64_t time = StatOf(entry).lastWriteTime;
    WriteFileBytes(game / entry.path, "other content");
    ASSERT_NO_FATAL_FAILURE(SetWriteTime(game / entry.path, time + 10 * kSecond));
    EXPECT_TRUE(Needs(entry));
}

TEST_F(FileCheck, CachedHashOfAnEarlierReleaseIsNotTrusted) {
    // The cache knows the file as the old release's; the manifest now wants another file of the
    // same size. Size and time match, so only hashing can tell.
    const FileEntry old = Put(L"a.dat", "release 1");
    const FileStat stat = StatOf(old);
    cache.Remember(old, stat, old.sha256);
    const FileEntry wanted = Entry(L"a.dat", old.size, HashOf("release 2"));
    EXPECT_TRUE(Needs(wanted));

    // The same file updated by other means, its time set back: hashed, accepted and remembered.
    WriteFileBytes(game / L"a.dat", "release 2");
    ASSERT_NO_FATAL_FAILURE(SetWriteTime(game / L"a.dat", stat.lastWriteTime));
    ASSERT_EQ(StatOf(wanted).lastWriteTime, stat.lastWriteTime);
    EXPECT_FALSE(Needs(wanted));
    EXPECT_TRUE(cache.IsKnownGood(wanted, stat, wanted.sha256));
    EXPECT_FALSE(cache.IsKnownGood(old, stat, old.sha256));
}

TEST_F(FileCheck, KeepFileOnlyHasToExist) {
    FileEntry present = Put(L"config\\settings.ini", "player's own settings", kKindKeep);
    present.size = 3;
    present.sha256 = HashOf("abc");
    EXPECT_FALSE(Needs(present));
    EXPECT_TRUE(Needs(Entry(L"config\\missing.ini", 3, HashOf("abc"), kKindKeep)));
}

TEST_F(FileCheck, LauncherEntryIsNeverFlagged) {
    EXPECT_FALSE(Needs(Entry(L"Orvane.exe", 100, kHashA, kKindLauncher)));
    FileEntry present = Put(L"Orvane2.exe", "an older launcher", kKindLauncher);
    present.sha256 = kHashA;
    EXPECT_FALSE(Needs(present));
}

TEST_F(FileCheck, StopWhileHashingFlagsTheFileAndRemembersNothing) {
    const FileEntry entry = Put(L"a.dat", "good content");
    std::stop_source stop;
    stop.request_stop();
    EXPECT_TRUE(Needs(entry, stop.get_token()));
    EXPECT_EQ(cache.Count(), 0U);
}

TEST(CheckPool, IsTheHardwareThreadsBetweenTwoAndEight) {
    EXPECT_EQ(CheckPoolSize(0), 2U);
    EXPECT_EQ(CheckPoolSize(1), 2U);
    EXPECT_EQ(CheckPoolSize(2), 2U);
    EXPECT_EQ(CheckPoolSize(5), 5U);
    EXPECT_EQ(CheckPoolSize(8), 8U);
    EXPECT_EQ(CheckPoolSize(32), 8U);
}

// A whole check of a game folder on the thread pool.
class WholeCheck : public FileCheck {
protected:
    // Good, damaged, missing and special files, with what each must give.
    void MakeFolder() {
        Support::MakeDirectories(game / L".orvane");
        for (int i = 0; i < 40; ++i) {
            const std::wstring name =
                L"Data\\Part" + std::to_wstring(i % 4) + L"\\File" + std::to_wstring(i) + L".DAT";
            Add(Put(name, "content of file " + std::to_string(i) + std::string(i * 997, 'x')), false);
            verified.push_back(files.back());
        }
        FileEntry corrupt = Put(L"data\\corrupt.dat", "corrupt!");
        corrupt.sha256 = HashOf("correct!");
        Add(corrupt, true);
        FileEntry shorter = Put(L"data\\short.dat", "short");
        shorter.size = 50;
        Add(shorter, true);
        Add(Entry(L"data\\missing.dat", 4, kHashA), true);
        Add(Entry(L"Orvane.exe", 4, kHashA, kKindLauncher), false);
        Add(Put(L"Orvane2.exe", "launcher", kKindLauncher), false);
        FileEntry keep = Put(L"config.ini", "mine", kKindKeep);
        keep.sha256 = kHashB;
        Add(keep, false);
        Add(Entry(L"missing.ini", 1, kHashB, kKindKeep), true);
        Support::MakeDirectories(game / L"data\\folder.dat");
        Add(Entry(L"data\\folder.dat", 0, HashOf("")), true);
    }
    void Add(const FileEntry& entry, bool flagged) {
        files.push_back(entry);
        expected.push_back(flagged ? 1 : 0);
    }
    std::vector<uint8_t> Check(std::stop_token stopToken = {}) {
        std::vector<uint8_t> needs(files.size(), 0);
        RunCheck(files, needs, cache, game.Path(), stopToken, progress);
        return needs;
    }

    std::vector<FileEntry> files;
    std::vector<uint8_t> expected;
    std::vector<FileEntry> verified;
    UpdateProgress progress;
};

TEST_F(WholeCheck, FlagsExactlyTheFilesToDownloadAndCountsEveryEntryOnce) {
    MakeFolder();
    EXPECT_EQ(Check(), expected);
    EXPECT_EQ(progress.checkDone.load(), files.size());
}

TEST_F(WholeCheck, RepairRunHashesEveryFileAndSavesExactlyTheVerifiedOnes) {
    MakeFolder();
    cache.Load(); // no cache file yet, as after a repair removed it
    EXPECT_EQ(Check(), expected);
    cache.Save();

    std::map<std::string, std::string> wanted;
    for (const FileEntry& entry : verified) {
        const FileStat stat = StatOf(entry);
        wanted[WideToUtf8(CacheKey(entry.path))] =
            std::to_string(stat.size) + " " + std::to_string(stat.lastWriteTime) + " " + entry.sha256;
    }
    std::map<std::string, std::string> saved;
    for (const std::string& line : Lines(ReadFileOrEmpty(game / L".orvane\\filecache.txt"))) {
        const size_t hashEnd = line.find(' ', line.find(' ', line.find(' ') + 1) + 1);
        ASSERT_NE(hashEnd, std::string::npos) << line;
        saved[line.substr(hashEnd + 1)] = line.substr(0, hashEnd);
    }
    EXPECT_EQ(saved, wanted);
}

TEST_F(WholeCheck, NextRunTrustsTheSavedCache) {
    MakeFolder();
    EXPECT_EQ(Check(), expected);
    cache.Save();

    // Damage a verified file without changing its size or time: the saved cache still vouches.
    const std::wstring damaged = game / verified[3].path;
    const uint64_t time = StatFile(damaged).lastWriteTime;
    std::string bytes = ReadFileOrEmpty(damaged);
    bytes[0] = static_cast<char>(bytes[0] ^ 1);
    WriteFileBytes(damaged, bytes);
    ASSERT_NO_FATAL_FAILURE(SetWriteTime(damaged, time));

    FileCache next(game / L".orvane\\filecache.txt");
    next.Load();
    EXPECT_EQ(next.Count(), verified.size());
    std::vector<uint8_t> needs(files.size(), 0);
    UpdateProgress nextProgress;
    RunCheck(files, needs, next, game.Path(), {}, nextProgress);
    EXPECT_EQ(needs, expected);

    // A new time on the damaged file makes it hashed again, and flagged.
    ASSERT_NO_FATAL_FAILURE(SetWriteTime(damaged, time + kSecond));
    std::fill(needs.begin(), needs.end(), 0);
    RunCheck(files, needs, next, game.Path(), {}, nextProgress);
    std::vector<uint8_t> withDamaged = expected;
    withDamaged[3] = 1;
    EXPECT_EQ(needs, withDamaged);
}

TEST_F(WholeCheck, StopBeforeTheStartTakesNoEntry) {
    MakeFolder();
    std::stop_source stop;
    stop.request_stop();
    EXPECT_EQ(Check(stop.get_token()), std::vector<uint8_t>(files.size(), 0));
    EXPECT_EQ(progress.checkDone.load(), 0U);
    EXPECT_EQ(cache.Count(), 0U);
}

TEST_F(WholeCheck, OneWorkerAloneTakesEveryEntry) {
    MakeFolder();
    std::vector<uint8_t> needs(files.size(), 0);
    std::atomic<uint32_t> next{0};
    const std::wstring folder = game.Path();
    CheckWorker(CheckWork{files, needs, next, cache, folder, {}, progress});
    EXPECT_EQ(needs, expected);
    EXPECT_EQ(progress.checkDone.load(), files.size());
    EXPECT_EQ(cache.Count(), verified.size());
}

} // namespace
} // namespace Orv
