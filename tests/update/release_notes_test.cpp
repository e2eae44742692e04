// The release's notes at the end of a run: the text a good file hands to the window, and the log line of a
// bad one.
#include "update_run_fixture.h"

#include <utility>

namespace Orv {
namespace {

std::wstring NotesOf(UpdateProgress& progress) {
    std::lock_guard guard(progress.lock);
    return progress.notes;
}

TEST_F(UpdateRunTest, GoodNotesReachTheWindowAndBadOnesOnlyTheLog) {
    Support::WriteFileBytes(source / L"Notes\\Patch.txt",
                            "\xEF\xBB\xBFRelease 8\nNew map: north\r\nDüzeltmeler\r\rend");
    Support::WriteFileBytes(source / L"data\\long.txt", std::string(65537, 'a'));
    Support::WriteFileBytes(source / L"data\\latin1.txt", "d\xFCzeltmeler\n");
    Support::WriteFileBytes(source / L"data\\zero.txt", std::string("a\0b", 3));
    Publish(8, {L"--notes", L"notes/patch.txt"});
    UseMirror(Support::HttpBase());
    Run();
    ASSERT_EQ(progress.phase.load(), Phase::Done) << WideToUtf8(Status());
    EXPECT_EQ(NotesOf(progress), L"Release 8\r\nNew map: north\r\nDüzeltmeler\r\n\r\nend");

    // The same release naming other files: each run drops the notes of the one before.
    const std::wstring manifestPath = MirrorPath() + L"\\manifest.txt";
    const std::string manifest = Support::ReadFileOrEmpty(manifestPath);
    const std::string key = "notes\tNotes/Patch.txt\n";
    const size_t at = manifest.find(key);
    ASSERT_NE(at, std::string::npos) << manifest;
    const std::pair<std::string, std::string> bad[]{
        {"data/long.txt", "longer than 64 KiB"},
        {"data/latin1.txt", "not UTF-8 text"},
        {"data/zero.txt", "not text: it holds a NUL character"},
        {"data/gone.txt", "no file of the release"},
        {"../VersionInfo.ver", "not a path inside the game folder"},
    };
    for (const auto& [path, why] : bad) {
        std::string changed = manifest;
        Support::WriteFileBytes(manifestPath, changed.replace(at, key.size(), "notes\t" + path + "\n"));
        Run();
        EXPECT_EQ(progress.phase.load(), Phase::Done) << WideToUtf8(Status());
        EXPECT_EQ(NotesOf(progress), L"") << path;
        EXPECT_TRUE(LogHas("notes: " + path + " is not shown (" + why + ")")) << LogText();
    }
}

} // namespace
} // namespace Orv
