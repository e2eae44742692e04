#include "core/handles.h"
#include "core/text.h"
#include "support/test_folder.h"
#include "update/object_stage.h"
#include "update/sha256.h"

#include <windows.h>

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <filesystem>
#include <stop_token>
#include <string>

namespace Orv {
namespace {

using Support::Exists;
using Support::ReadFileOrEmpty;
using Support::TempFolder;
using Support::WriteFileBytes;

const std::wstring kCorrupt = L"Downloaded file is corrupt (verification failed), downloading again.";
const std::wstring kInUse = L"!File in use: close the game and try again. (file.dat)";

std::string HashOf(const std::string& bytes) {
    Sha256 hash;
    hash.Update(bytes.data(), bytes.size());
    return hash.Finish().value_or(std::string());
}

std::string Compress(const std::string& bytes) {
    uLongf length = compressBound(static_cast<uLong>(bytes.size()));
    std::string out(length, '\0');
    const int result =
        compress2(reinterpret_cast<Bytef*>(out.data()), &length, reinterpret_cast<const Bytef*>(bytes.data()),
                  static_cast<uLong>(bytes.size()), Z_DEFAULT_COMPRESSION);
    EXPECT_EQ(result, Z_OK);
    out.resize(length);
    return out;
}

// Bytes that do not compress: the object is about as large as the file.
std::string Noise(size_t length, uint32_t seed) {
    std::string bytes(length, '\0');
    uint32_t state = seed;
    for (char& c : bytes) {
        state = state * 1664525U + 1013904223U;
        c = static_cast<char>(state >> 24);
    }
    return bytes;
}

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

FileEntry Entry(const std::string& content, bool compressed) {
    FileEntry entry;
    entry.path = L"data\\file.dat";
    entry.size = content.size();
    entry.sha256 = HashOf(content);
    entry.compressed = compressed;
    return entry;
}

// English texts for the exact messages; the object and the destination in a fresh folder.
class ObjectStage : public ::testing::Test {
protected:
    void SetUp() override {
        turkishBefore = IsTurkish();
        SetTurkish(false);
        part = folder / L"objects\\ab\\ab12cd.part";
        dest = folder / L"game\\data\\file.dat";
    }
    void TearDown() override { SetTurkish(turkishBefore); }

    // Writes the object and makes its manifest entry: compressed objects hold the zlib stream.
    FileEntry PutObject(const std::string& content, bool compressed) {
        const std::string object = compressed ? Compress(content) : content;
        WriteFileBytes(part, object);
        FileEntry entry = Entry(content, compressed);
        entry.zsize = object.size();
        return entry;
    }

    Outcome<Ok> Stage(const FileEntry& entry, std::stop_token stopToken = {}) {
        return StageObject(entry, part, dest, stopToken);
    }

    bool turkishBefore = false;
    TempFolder folder;
    std::wstring part;
    std::wstring dest;
};

std::string Message(const Outcome<Ok>& outcome) {
    return WideToUtf8(outcome.message);
}

TEST(StagingPath, IsTheDestinationWithOvnewAppended) {
    EXPECT_EQ(StagingPath(L"C:\\Games\\Orvane\\data\\file.dat"), L"C:\\Games\\Orvane\\data\\file.dat.ovnew");
}

// A good object ends up as the destination file.

TEST_F(ObjectStage, CompressedObjectIsInflatedToTheDestinationAndThePartIsKept) {
    const std::string content = "abc";
    WriteFileBytes(part, Compress(content));
    const std::string object = ReadFileOrEmpty(part);
    FileEntry entry = Entry(content, true);
    // The published SHA-256 of "abc", so the hash itself is checked too.
    ASSERT_EQ(entry.sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

    const auto result = Stage(entry);
    ASSERT_TRUE(result.ok()) << Message(result);
    EXPECT_EQ(ReadFileOrEmpty(dest), content);
    EXPECT_FALSE(Exists(StagingPath(dest)));
    EXPECT_EQ(ReadFileOrEmpty(part), object);
}

TEST_F(ObjectStage, LargeCompressedObjectSpanningManyBuffersIsPlaced) {
    // Incompressible bytes and a long run of zeros: many reads of the object and many output chunks.
    const std::string content = Noise(3 * 1048576 + 12345, 7) + std::string(5 * 1048576, '\0') + "end";
    const FileEntry entry = PutObject(content, true);
    const auto result = Stage(entry);
    ASSERT_TRUE(result.ok()) << Message(result);
    EXPECT_TRUE(ReadFileOrEmpty(dest) == content);
    EXPECT_FALSE(Exists(StagingPath(dest)));
}

TEST_F(ObjectStage, EmptyCompressedObjectMakesAnEmptyFile) {
    const FileEntry entry = PutObject("", true);
    ASSERT_EQ(entry.sha256, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    const auto result = Stage(entry);
    ASSERT_TRUE(result.ok()) << Message(result);
    EXPECT_TRUE(Exists(dest));
    EXPECT_EQ(ReadFileOrEmpty(dest), "");
}

TEST_F(ObjectStage, StoredObjectIsMovedItselfWithoutAStagingCopy) {
    const std::string content = Noise(300000, 3);
    const FileEntry entry = PutObject(content, false);
    const auto result = Stage(entry);
    ASSERT_TRUE(result.ok()) << Message(result);
    EXPECT_TRUE(ReadFileOrEmpty(dest) == content);
    EXPECT_FALSE(Exists(part));
    EXPECT_FALSE(Exists(StagingPath(dest)));
}

TEST_F(ObjectStage, ExistingDestinationIsReplaced) {
    WriteFileBytes(dest, "the old file, longer than the new one");
    const FileEntry entry = PutObject("new", true);
    const auto result = Stage(entry);
    ASSERT_TRUE(result.ok()) << Message(result);
    EXPECT_EQ(ReadFileOrEmpty(dest), "new");
}

TEST_F(ObjectStage, ReadOnlyDestinationIsReplaced) {
    for (const bool compressed : {true, false}) {
        SCOPED_TRACE(compressed ? "compressed" : "stored");
        WriteFileBytes(dest, "old content");
        ASSERT_TRUE(::SetFileAttributesW(dest.c_str(), FILE_ATTRIBUTE_READONLY));
        const std::string content = compressed ? "fresh compressed content" : "fresh stored content";
        const FileEntry entry = PutObject(content, compressed);
        const auto result = Stage(entry);
        ::SetFileAttributesW(dest.c_str(), FILE_ATTRIBUTE_NORMAL);
        ASSERT_TRUE(result.ok()) << Message(result);
        EXPECT_EQ(ReadFileOrEmpty(dest), content);
        EXPECT_FALSE(Exists(StagingPath(dest)));
    }
}

TEST_F(ObjectStage, MissingDestinationFoldersAreCreated) {
    dest = folder / L"game\\deep\\er\\still\\file.dat";
    const FileEntry entry = PutObject("content", true);
    const auto result = Stage(entry);
    ASSERT_TRUE(result.ok()) << Message(result);
    EXPECT_EQ(ReadFileOrEmpty(dest), "content");
}

TEST_F(ObjectStage, BytesAfterTheEndOfTheStreamAreIgnored) {
    const std::string content = Noise(5000, 11);
    FileEntry entry = Entry(content, true);
    WriteFileBytes(part, Compress(content) + "trailing bytes that are not part of the stream");
    const auto result = Stage(entry);
    ASSERT_TRUE(result.ok()) << Message(result);
    EXPECT_TRUE(ReadFileOrEmpty(dest) == content);
}

// A corrupt object is not placed and is worth downloading again.

TEST_F(ObjectStage, StreamCutShortIsCorrupt) {
    const std::string content = Noise(600000, 5);
    const std::string object = Compress(content);
    WriteFileBytes(part, object.substr(0, object.size() / 2));
    const auto result = Stage(Entry(content, true));
    EXPECT_EQ(result.message, kCorrupt);
    EXPECT_FALSE(Exists(dest));
    EXPECT_FALSE(Exists(StagingPath(dest)));
}

TEST_F(ObjectStage, StreamMissingOnlyItsChecksumIsCorrupt) {
    // Every byte of the file is there; only the stream's own end (its Adler-32) is not.
    const std::string content = Noise(1000, 6);
    const std::string object = Compress(content);
    WriteFileBytes(part, object.substr(0, object.size() - 4));
    const auto result = Stage(Entry(content, true));
    EXPECT_EQ(result.message, kCorrupt);
    EXPECT_FALSE(Exists(dest));
    EXPECT_FALSE(Exists(StagingPath(dest)));
}

TEST_F(ObjectStage, OneFlippedByteInACompressedObjectIsCorrupt) {
    const std::string content = Noise(20000, 9) + std::string(20000, 'x');
    std::string object = Compress(content);
    object[object.size() / 2] = static_cast<char>(object[object.size() / 2] ^ 0x01);
    WriteFileBytes(part, object);
    const auto result = Stage(Entry(content, true));
    EXPECT_EQ(result.message, kCorrupt);
    EXPECT_FALSE(Exists(dest));
    EXPECT_FALSE(Exists(StagingPath(dest)));
}

TEST_F(ObjectStage, OneFlippedByteInAStoredObjectOfTheRightSizeIsCorrupt) {
    const std::string content = Noise(20000, 10);
    const FileEntry entry = Entry(content, false);
    std::string object = content;
    object[12345] = static_cast<char>(object[12345] ^ 0x80);
    WriteFileBytes(part, object);
    const auto result = Stage(entry);
    EXPECT_EQ(result.message, kCorrupt);
    EXPECT_FALSE(Exists(dest));
    EXPECT_FALSE(Exists(StagingPath(dest)));
}

TEST_F(ObjectStage, CompressedObjectOfAnotherFileWithTheSameSizeIsCorrupt) {
    FileEntry entry = PutObject("right size, other bytes", true);
    entry.sha256 = HashOf("right size, wrong bytes");
    const auto result = Stage(entry);
    EXPECT_EQ(result.message, kCorrupt);
    EXPECT_FALSE(Exists(dest));
    EXPECT_FALSE(Exists(StagingPath(dest)));
}

TEST_F(ObjectStage, CompressedObjectShorterOrLongerThanTheManifestSizeIsCorrupt) {
    for (const int delta : {-1, 1}) {
        SCOPED_TRACE(delta);
        FileEntry entry = PutObject("twenty bytes of text", true);
        entry.size = static_cast<uint64_t>(static_cast<int64_t>(entry.size) + delta);
        const auto result = Stage(entry);
        EXPECT_EQ(result.message, kCorrupt);
        EXPECT_FALSE(Exists(dest));
        EXPECT_FALSE(Exists(StagingPath(dest)));
    }
}

TEST_F(ObjectStage, StoredObjectWithTheRightHashButAnotherManifestSizeIsCorrupt) {
    for (const int delta : {-1, 1}) {
        SCOPED_TRACE(delta);
        FileEntry entry = PutObject("twenty bytes of text", false);
        entry.size = static_cast<uint64_t>(static_cast<int64_t>(entry.size) + delta);
        const auto result = Stage(entry);
        EXPECT_EQ(result.message, kCorrupt);
        EXPECT_FALSE(Exists(dest));
        EXPECT_TRUE(Exists(part));
    }
}

TEST_F(ObjectStage, UpperCaseManifestHashNeverMatches) {
    for (const bool compressed : {true, false}) {
        SCOPED_TRACE(compressed ? "compressed" : "stored");
        FileEntry entry = PutObject("content with a hash", compressed);
        entry.sha256 = Upper(entry.sha256);
        const auto result = Stage(entry);
        EXPECT_EQ(result.message, kCorrupt);
        EXPECT_FALSE(Exists(dest));
        EXPECT_FALSE(Exists(StagingPath(dest)));
    }
}

TEST_F(ObjectStage, StreamInflatingFarBeyondTheSizeIsCorrupt) {
    // 64 MiB of zeros make a stream of about 64 KiB.
    const std::string object = Compress(std::string(64 * 1048576, '\0'));
    WriteFileBytes(part, object);
    FileEntry entry = Entry(std::string(1000, '\0'), true);
    const auto result = Stage(entry);
    EXPECT_EQ(result.message, kCorrupt);
    EXPECT_FALSE(Exists(dest));
    EXPECT_FALSE(Exists(StagingPath(dest)));
}

TEST_F(ObjectStage, StopRequestedIsACancellationThatKeepsTheObjectAndPlacesNothing) {
    for (const bool compressed : {true, false}) {
        SCOPED_TRACE(compressed ? "compressed" : "stored");
        const FileEntry entry = PutObject(Noise(100000, 4), compressed);
        std::stop_source stop;
        stop.request_stop();
        const auto result = Stage(entry, stop.get_token());
        EXPECT_EQ(result.message, L"!Cancelled.");
        EXPECT_FALSE(Exists(dest));
        EXPECT_FALSE(Exists(StagingPath(dest)));
    }
}

// Input and output failures are fatal: downloading again would not help.

TEST_F(ObjectStage, MissingCompressedObjectIsFatalAndNamesThePart) {
    Support::MakeDirectories(folder / L"objects\\ab");
    const auto result = Stage(Entry("content", true));
    EXPECT_EQ(result.message, L"!" + WriteErrorText(ERROR_FILE_NOT_FOUND, part));
    EXPECT_FALSE(Exists(dest));
    EXPECT_FALSE(Exists(StagingPath(dest)));
}

// A stored object is read only to hash it: when it cannot be read, downloading it again may help.
TEST_F(ObjectStage, MissingStoredObjectIsCorruptSoItIsFetchedAgain) {
    Support::MakeDirectories(folder / L"objects\\ab");
    const auto result = Stage(Entry("content", false));
    EXPECT_EQ(result.message, L"Downloaded file is corrupt (verification failed), downloading again.");
    EXPECT_FALSE(Exists(dest));
}

TEST_F(ObjectStage, StagingThatCannotBeCreatedIsFatalAndNamesTheStagingFile) {
    // A folder where the staging file would go.
    Support::MakeDirectories(StagingPath(dest) + L"\\inside");
    const FileEntry entry = PutObject("content", true);
    const auto result = Stage(entry);
    EXPECT_EQ(result.message, L"!" + WriteErrorText(ERROR_ACCESS_DENIED, StagingPath(dest)));
    EXPECT_FALSE(Exists(dest));
}

TEST_F(ObjectStage, DestinationFolderThatIsAFileIsFatalAndNamesTheStagingFile) {
    WriteFileBytes(folder / L"game\\data", "a file where the folder should be");
    const FileEntry entry = PutObject("content", true);
    const auto result = Stage(entry);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.message.substr(0, 1), L"!");
    EXPECT_NE(result.message.find(L"file.dat.ovnew"), std::wstring::npos) << Message(result);
    EXPECT_EQ(ReadFileOrEmpty(folder / L"game\\data"), "a file where the folder should be");
}

TEST_F(ObjectStage, DestinationThatIsAFolderIsFatalAndTheStagingIsRemoved) {
    Support::MakeDirectories(dest + L"\\inside");
    const FileEntry entry = PutObject("content", true);
    const auto result = Stage(entry);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.message.substr(0, 1), L"!");
    EXPECT_NE(result.message, kCorrupt);
    EXPECT_NE(result.message.find(L"file.dat"), std::wstring::npos) << Message(result);
    EXPECT_FALSE(Exists(StagingPath(dest)));
    EXPECT_TRUE(Exists(part));
}

TEST_F(ObjectStage, DestinationHeldOpenWithoutDeleteSharingIsFatalAndTellsToCloseTheGame) {
    for (const bool compressed : {true, false}) {
        SCOPED_TRACE(compressed ? "compressed" : "stored");
        WriteFileBytes(dest, "running game file");
        const FileEntry entry = PutObject("update of the game file", compressed);
        Outcome<Ok> result;
        {
            FileHandle held(::CreateFileW(dest.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(held.Valid());
            result = Stage(entry);
        }
        // A sharing violation gives the in-use text; Wine refuses a rename over an open file with
        // access denied, whose text asks to close the game as well.
        EXPECT_TRUE(result.message == kInUse ||
                    result.message == L"!" + WriteErrorText(ERROR_ACCESS_DENIED, dest))
            << Message(result);
        EXPECT_EQ(ReadFileOrEmpty(dest), "running game file");
        EXPECT_FALSE(Exists(StagingPath(dest)));
        EXPECT_TRUE(Exists(part));
    }
}

// The user message for a write or move failure.
class WriteErrorMessage : public ::testing::Test {
protected:
    void SetUp() override {
        turkishBefore = IsTurkish();
        SetTurkish(false);
    }
    void TearDown() override { SetTurkish(turkishBefore); }
    bool turkishBefore = false;
    const std::wstring path = L"C:\\Games\\Orvane\\data\\maps\\town.dat";
};

TEST_F(WriteErrorMessage, FullDiskNamesNoFile) {
    EXPECT_EQ(WriteErrorText(ERROR_DISK_FULL, path), L"The disk is full.");
    EXPECT_EQ(WriteErrorText(ERROR_HANDLE_DISK_FULL, path), L"The disk is full.");
}

TEST_F(WriteErrorMessage, FileInUseNamesTheFileOnly) {
    for (const uint32_t code : {uint32_t{ERROR_SHARING_VIOLATION}, uint32_t{ERROR_LOCK_VIOLATION},
                                uint32_t{ERROR_USER_MAPPED_FILE}}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(WriteErrorText(code, path), L"File in use: close the game and try again. (town.dat)");
    }
    EXPECT_EQ(WriteErrorText(ERROR_SHARING_VIOLATION, L"C:/Games/Orvane/town.dat"),
              L"File in use: close the game and try again. (town.dat)");
}

TEST_F(WriteErrorMessage, AccessDeniedNamesTheWholePath) {
    EXPECT_EQ(WriteErrorText(ERROR_ACCESS_DENIED, path),
              L"Cannot write the file: close the game if it is running; antivirus or folder permissions may "
              L"block it. (C:\\Games\\Orvane\\data\\maps\\town.dat)");
}

TEST_F(WriteErrorMessage, OtherCodesGiveTheFileNameAndTheSystemText) {
    for (const uint32_t code : {uint32_t{ERROR_FILE_NOT_FOUND}, uint32_t{ERROR_PATH_NOT_FOUND},
                                uint32_t{ERROR_INVALID_NAME}, 12345U}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(WriteErrorText(code, path), L"town.dat: " + ErrorText(code));
    }
}

TEST_F(WriteErrorMessage, TurkishFullDisk) {
    SetTurkish(true);
    EXPECT_EQ(WriteErrorText(ERROR_DISK_FULL, path), L"Diskte yer kalmad\u0131.");
}

// The 8 MiB disk that scripts/test mounts when it may (ORV_SMALL_DISK); a fresh folder on it.
class ObjectStageOnSmallDisk : public ObjectStage {
protected:
    void SetUp() override {
        ObjectStage::SetUp();
        wchar_t root[MAX_PATH] = {};
        const DWORD length = ::GetEnvironmentVariableW(L"ORV_SMALL_DISK", root, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) {
            GTEST_SKIP() << "no small disk: mounting a tmpfs is not permitted here";
        }
        ULARGE_INTEGER available{}, total{}, free{};
        ASSERT_TRUE(::GetDiskFreeSpaceExW(root, &available, &total, &free)) << ::GetLastError();
        ASSERT_LE(total.QuadPart, 16ULL * 1048576) << "ORV_SMALL_DISK is not a small disk";
        static std::atomic<unsigned> counter{0};
        smallFolder = std::wstring(root) + L"\\stage_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
                      std::to_wstring(counter++);
        ASSERT_TRUE(::CreateDirectoryW(smallFolder.c_str(), nullptr)) << ::GetLastError();
        dest = smallFolder + L"\\game\\data\\file.dat";
    }
    void TearDown() override {
        if (!smallFolder.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(smallFolder, ignored);
        }
        ObjectStage::TearDown();
    }

    uint64_t FreeBytes() const {
        ULARGE_INTEGER available{};
        EXPECT_TRUE(::GetDiskFreeSpaceExW(smallFolder.c_str(), &available, nullptr, nullptr));
        return available.QuadPart;
    }

    // Fills the disk with one file until about `leave` bytes are free.
    void FillLeaving(uint64_t leave) {
        const uint64_t free = FreeBytes();
        ASSERT_GT(free, leave);
        FileHandle filler(::CreateFileW((smallFolder + L"\\filler").c_str(), GENERIC_WRITE, 0, nullptr,
                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(filler.Valid());
        const std::string zeros(65536, '\0');
        uint64_t left = free - leave;
        while (left > 0) {
            const DWORD chunk = static_cast<DWORD>(std::min<uint64_t>(left, zeros.size()));
            DWORD written = 0;
            ASSERT_TRUE(::WriteFile(filler.Get(), zeros.data(), chunk, &written, nullptr))
                << ::GetLastError();
            left -= written;
        }
    }

    std::wstring smallFolder;
};

TEST_F(ObjectStageOnSmallDisk, DiskFullWhileInflatingIsFatalAndTheStagingIsRemoved) {
    WriteFileBytes(dest, "old file");
    // 16 MiB does not fit on the disk; the object itself lies elsewhere.
    const std::string content = std::string(16 * 1048576, 'z') + "tail";
    const FileEntry entry = PutObject(content, true);
    const auto result = Stage(entry);
    EXPECT_EQ(result.message, L"!The disk is full.");
    EXPECT_FALSE(Exists(StagingPath(dest)));
    EXPECT_EQ(ReadFileOrEmpty(dest), "old file");
    EXPECT_TRUE(Exists(part));
}

TEST_F(ObjectStageOnSmallDisk, LeftoverStagingFileDoesNotHideAFullDisk) {
    // An earlier run ended while inflating and left its staging file behind. The free space is no
    // whole number of output chunks, so the last write only partly fits.
    WriteFileBytes(StagingPath(dest), "half of an earlier file");
    ASSERT_NO_FATAL_FAILURE(FillLeaving(3 * 1048576 + 100000));
    const FileEntry entry = PutObject(std::string(16 * 1048576, 'y'), true);
    const auto result = Stage(entry);
    EXPECT_EQ(result.message, L"!The disk is full.");
    EXPECT_FALSE(Exists(StagingPath(dest)));
    EXPECT_FALSE(Exists(dest));
}

TEST_F(ObjectStageOnSmallDisk, StreamInflatingFarBeyondTheSizeNeverFillsTheDisk) {
    // With 256 KiB free, writing any output chunk beyond the file's 1000 bytes would end in a full disk.
    ASSERT_NO_FATAL_FAILURE(FillLeaving(256 * 1024));
    WriteFileBytes(part, Compress(std::string(64 * 1048576, '\0')));
    const auto result = Stage(Entry(std::string(1000, '\0'), true));
    EXPECT_EQ(result.message, kCorrupt);
    EXPECT_FALSE(Exists(dest));
    EXPECT_FALSE(Exists(StagingPath(dest)));
}

TEST_F(ObjectStageOnSmallDisk, GoodObjectThatJustFitsOnTheDiskIsPlaced) {
    // The full-disk handling must not turn a write that just fits into a failure.
    ASSERT_NO_FATAL_FAILURE(FillLeaving(512 * 1024));
    const std::string content(FreeBytes() - 64 * 1024, 'q');
    const FileEntry entry = PutObject(content, true);
    const auto result = Stage(entry);
    ASSERT_TRUE(result.ok()) << Message(result);
    EXPECT_TRUE(ReadFileOrEmpty(dest) == content);
}

} // namespace
} // namespace Orv
