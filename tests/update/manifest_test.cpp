#include "core/text.h"
#include "update/manifest.h"

#include <gtest/gtest.h>

namespace Orv {
namespace {

const std::string kHash(64, 'a');

std::string Row(const std::string& rest) {
    return "f\t" + kHash + "\t" + rest + "\n";
}

// English texts for the exact messages.
class ManifestParse : public ::testing::Test {
protected:
    void SetUp() override {
        before = IsTurkish();
        SetTurkish(false);
    }
    void TearDown() override { SetTurkish(before); }

    static std::wstring Failure(const std::string& text) {
        auto result = ParseManifest(text);
        EXPECT_FALSE(result.ok());
        return result.message;
    }
    static Manifest Parsed(const std::string& text) {
        auto result = ParseManifest(text);
        EXPECT_TRUE(result.ok()) << WideToUtf8(result.message);
        return result.value.value_or(Manifest{});
    }
    bool before = false;
};

TEST_F(ManifestParse, MinimalManifestKeepsTheTextAndEveryField) {
    const std::string text =
        "# release notes\nformat\t1\nrelease\t42\nclientversion\t1.0.3\nserver\t10.0.0.1:4000\n"
        "launch\tUpdater.exe\nlauncher\t1.0.0\ncreated\t2025-03-07\n" +
        Row("100\t60\tz\t-\tdata/maps/\xC3\xA7"
            "arsi.dat") +
        Row("5\t5\t-\ts\tOrvane.exe");
    const Manifest m = Parsed(text);
    EXPECT_EQ(m.release, 42);
    EXPECT_EQ(m.clientVersion, L"1.0.3");
    EXPECT_EQ(m.server, L"10.0.0.1:4000");
    EXPECT_EQ(m.launch, L"Updater.exe");
    EXPECT_EQ(m.launcher, L"1.0.0");
    EXPECT_EQ(m.created, L"2025-03-07");
    EXPECT_EQ(m.text, text);
    ASSERT_EQ(m.files.size(), 2U);
    EXPECT_EQ(m.files[0].path, L"data\\maps\\\u00E7arsi.dat");
    EXPECT_EQ(m.files[0].size, 100U);
    EXPECT_EQ(m.files[0].zsize, 60U);
    EXPECT_TRUE(m.files[0].compressed);
    EXPECT_EQ(m.files[0].kind, '-');
    EXPECT_EQ(m.files[0].sha256, kHash);
    EXPECT_FALSE(m.files[1].compressed);
    EXPECT_EQ(m.files[1].kind, 's');
}

TEST_F(ManifestParse, ChunkRowsAreReadBesideTheFilesAndNeverFailTheParse) {
    const std::string list(64, 'b');
    const std::string files = "format\t1\nrelease\t3\n" + Row("5000000\t4000000\tz\t-\ta.pak");
    const std::string rows = "c\t" + kHash + "\t" + list + "\t810\n" + "c\t" + kHash + "\t" + list + "\n" +
                             "c\t" + kHash + "\t" + std::string(64, 'B') + "\t810\n" + "c\tshort\n";
    const Manifest m = Parsed(files + rows);
    ASSERT_EQ(m.chunkedFiles.size(), 1U);
    EXPECT_EQ(m.chunkedFiles[0].sha256, kHash);
    EXPECT_EQ(m.chunkedFiles[0].listSha256, list);
    EXPECT_EQ(m.chunkedFiles[0].listSize, 810U);
    EXPECT_EQ(m.badChunkRows, 3U);
    // What a reader of files and keys sees is the manifest without those rows: a format-1 reader
    // takes a line whose first field is not "f" as a key line only when it has two fields.
    const Manifest plain = Parsed(files);
    ASSERT_EQ(m.files.size(), plain.files.size());
    EXPECT_EQ(m.files[0].sha256, plain.files[0].sha256);
    EXPECT_EQ(m.files[0].path, plain.files[0].path);
    EXPECT_EQ(m.release, plain.release);
}

TEST_F(ManifestParse, FormatAndEmptinessAreCheckedAtTheEnd) {
    EXPECT_EQ(Failure(""), L"Could not read the file list (format 0)");
    EXPECT_EQ(Failure("# only\n\nformat\t1\n"), L"Could not read the file list (empty)");
    EXPECT_EQ(Failure("format\t2\n" + Row("1\t1\t-\t-\ta")), L"Could not read the file list (format 2)");
    EXPECT_EQ(Failure(Row("1\t1\t-\t-\ta")), L"Could not read the file list (format 0)");
}

TEST_F(ManifestParse, ByteOrderMarkMakesTheFirstKeyUnknown) {
    EXPECT_EQ(Failure("\xEF\xBB\xBF"
                      "format\t1\n" +
                      Row("1\t1\t-\t-\ta")),
              L"Could not read the file list (format 0)");
}

TEST_F(ManifestParse, TurkishMessage) {
    SetTurkish(true);
    EXPECT_EQ(Failure(""), L"S\u00FCr\u00FCm listesi okunamad\u0131 (format 0)");
}

TEST_F(ManifestParse, LineEndsAndCarriageReturns) {
    const Manifest m = Parsed("format\t1\r\nf\t" + kHash + "\t3\t3\t-\t-\tlast.txt");
    ASSERT_EQ(m.files.size(), 1U);
    EXPECT_EQ(m.files[0].path, L"last.txt");
    // A CR is dropped only at the end of a line; one inside a field stays.
    const Manifest inner = Parsed("format\t1\nserver\ta\rb\r\n" + Row("1\t1\t-\t-\tx"));
    EXPECT_EQ(inner.server, L"a\rb");
    const Manifest trailing = Parsed("format\t1\n" + Row("1\t1\t-\t-\tname\r"));
    EXPECT_EQ(trailing.files[0].path, L"name");
}

TEST_F(ManifestParse, KeyLinesNeedExactlyTwoFieldsAndTheLastOneWins) {
    const Manifest m = Parsed("format\t1\nserver\ta\tb\nlonely\nserver\tfirst\nserver\tsecond\nother\tkey\n" +
                              Row("1\t1\t-\t-\tx"));
    EXPECT_EQ(m.server, L"second");
    const Manifest spaced = Parsed("format\t1\nlaunch\t Game Client.exe \n" + Row("1\t1\t-\t-\tx"));
    EXPECT_EQ(spaced.launch, L" Game Client.exe ");
}

TEST_F(ManifestParse, FileRowShapeIsStrict) {
    const std::wstring f = L"Could not read the file list (f)";
    EXPECT_EQ(Failure("format\t1\nf\t" + kHash + "\t1\t1\t-\t-\n"), f);       // six fields
    EXPECT_EQ(Failure("format\t1\nf\t" + kHash + "\t1\t1\t-\t-\ta\tb\n"), f); // eight fields
    EXPECT_EQ(Failure("format\t1\nf\t" + kHash + "\t1\t1\t-\t-\ta\t\n"), f);  // trailing tab
    EXPECT_EQ(Failure("format\t1\nf\t" + std::string(63, 'a') + "\t1\t1\t-\t-\ta\n"), f);
    EXPECT_EQ(Failure("format\t1\nf\t" + std::string(65, 'a') + "\t1\t1\t-\t-\ta\n"), f);
    // The hash names the .part file and the object: 64 hexadecimal digits, nothing else.
    EXPECT_EQ(Failure("format\t1\nf\t" + std::string(63, 'a') + "g\t1\t1\t-\t-\ta\n"), f);
    EXPECT_EQ(Failure("format\t1\nf\t" + std::string(60, 'a') + "..\\x\t1\t1\t-\t-\ta\n"), f);
    EXPECT_EQ(Parsed("format\t1\nf\t" + std::string(64, 'A') + "\t1\t1\t-\t-\ta\n").files.size(), 1U);
    EXPECT_EQ(Failure("format\t1\n" + Row("1\t1\t-\tss\ta")), f);
    EXPECT_EQ(Failure("format\t1\n" + Row("1\t1\t-\t\ta")), f);
}

TEST_F(ManifestParse, FirstBadRowEndsTheParse) {
    EXPECT_EQ(Failure("format\t1\n" + Row("1\t1\t-\t-\tgood") + "f\tshort\n" + Row("1\t1\t-\t-\t../bad")),
              L"Could not read the file list (f)");
}

TEST_F(ManifestParse, OnlyALowerCaseZAloneMeansCompressed) {
    const Manifest m =
        Parsed("format\t1\n" + Row("1\t1\tZ\t-\ta") + Row("1\t1\tzz\t-\tb") + Row("1\t1\t\t-\tc"));
    EXPECT_FALSE(m.files[0].compressed);
    EXPECT_FALSE(m.files[1].compressed);
    EXPECT_FALSE(m.files[2].compressed);
}

TEST_F(ManifestParse, UnsafePathsAreRefusedWithTheConvertedPath) {
    auto refused = [&](const std::string& path) {
        return Failure("format\t1\n" + Row("1\t1\t-\t-\t" + path));
    };
    EXPECT_EQ(refused(""), L"Could not read the file list (path )");
    EXPECT_EQ(refused("/etc/passwd"), L"Could not read the file list (path \\etc\\passwd)");
    EXPECT_EQ(refused("\\\\server\\share"), L"Could not read the file list (path \\\\server\\share)");
    EXPECT_EQ(refused("C:/Windows/x.dll"), L"Could not read the file list (path C:\\Windows\\x.dll)");
    EXPECT_EQ(refused("data/file:stream"), L"Could not read the file list (path data\\file:stream)");
    EXPECT_EQ(refused("data/../../x"), L"Could not read the file list (path data\\..\\..\\x)");
    EXPECT_EQ(refused("notes..txt"), L"Could not read the file list (path notes..txt)");
}

// Names that Windows cuts, strips or takes for a device would make a row name another file than the
// one it lists, and the launcher's own data folder is not the release's.
TEST_F(ManifestParse, PathsThatWindowsWouldReadOtherwiseAreRefused) {
    const auto parses = [&](const std::string& path) {
        return ParseManifest("format\t1\n" + Row("1\t1\t-\t-\t" + path)).ok();
    };
    for (const std::string& path : {std::string("data/x.bin\0.txt", 15),
                                    std::string("bell\x07ring"),
                                    std::string("new\x1fline"),
                                    std::string("CON"),
                                    std::string("data/nul.txt"),
                                    std::string("Com1.log"),
                                    std::string("lpt9"),
                                    std::string("aux .txt"),
                                    std::string("data/prn/x"),
                                    std::string("conout$"),
                                    std::string("dot./x"),
                                    std::string("data/x."),
                                    std::string("space /x"),
                                    std::string("data/x "),
                                    std::string("a//b"),
                                    std::string("data/"),
                                    std::string(".orvane/mirrors.txt"),
                                    std::string(".ORVANE\\filecache.txt"),
                                    std::string("bad\xC3\x28utf8"),
                                    std::string("over\xC0\xAFlong"),
                                    std::string("cut\xE2\x82"),
                                    std::string("ui/<panel>.txt"),
                                    std::string("say \"hi\".txt"),
                                    std::string("a|b"),
                                    std::string("what?.txt"),
                                    std::string("data/*.pak")}) {
        EXPECT_FALSE(parses(path)) << path;
    }
    EXPECT_EQ(ParseManifest("format\t1\n" + Row("1\t1\t-\t-\tui/<panel>.txt")).message,
              L"Could not read the file list (path ui\\<panel>.txt)");
    EXPECT_EQ(ParseManifest("format\t1\n" + Row("1\t1\t-\t-\tbell\x07ring")).message,
              L"Could not read the file list (path bell\uFFFDring)");
    for (const std::string path : {"console.txt", "com10", "lpt0.txt", "nul_x", "sub/.orvane/x", ".orvanex",
                                   "data/.hidden", "Türkçe/ğ.txt", "a.b.c"}) {
        EXPECT_TRUE(parses(path)) << path;
    }
}

TEST_F(ManifestParse, TheLaunchProgramMustBeAFileOfTheRelease) {
    Manifest m = Parsed("format\t1\nlaunch\tbin/Game.exe\n" + Row("1\t1\t-\t-\tBIN\\game.exe"));
    EXPECT_FALSE(LaunchProblem(m));
    for (const wchar_t* launch : {L"other.exe", L"..\\Game.exe", L"C:\\bin\\game.exe", L"bin\\game.exe."}) {
        m.launch = launch;
        EXPECT_TRUE(LaunchProblem(m)) << WideToUtf8(launch);
    }
}

TEST_F(ManifestParse, NumbersReadLikeTheStandardConversions) {
    const Manifest m = Parsed("format\t 1x\nrelease\t+7\n" + Row(" 12abc\t0034\t-\t-\ta"));
    EXPECT_EQ(m.release, 7);
    EXPECT_EQ(m.files[0].size, 12U);
    EXPECT_EQ(m.files[0].zsize, 34U);
    const Manifest big = Parsed("format\t1\n" + Row("18446744073709551615\t1\t-\t-\ta"));
    EXPECT_EQ(big.files[0].size, 18446744073709551615ULL);
    EXPECT_EQ(Parsed("format\t1\nrelease\t-5\n" + Row("1\t1\t-\t-\ta")).release, -5);
}

TEST_F(ManifestParse, NumbersWithoutDigitsOrOutOfRangeAreFailures) {
    EXPECT_EQ(Failure("format\t1\n" + Row("abc\t1\t-\t-\ta")), L"Could not read the file list (f)");
    EXPECT_EQ(Failure("format\t1\n" + Row("1\t\t-\t-\ta")), L"Could not read the file list (f)");
    EXPECT_EQ(Failure("format\t1\n" + Row("18446744073709551616\t1\t-\t-\ta")),
              L"Could not read the file list (f)");
    EXPECT_EQ(Failure("format\t1\n" + Row("-1\t1\t-\t-\ta")), L"Could not read the file list (f)");
    EXPECT_EQ(Failure("format\tone\n" + Row("1\t1\t-\t-\ta")), L"Could not read the file list (format)");
    EXPECT_EQ(Failure("format\t1\nrelease\t99999999999\n" + Row("1\t1\t-\t-\ta")),
              L"Could not read the file list (release)");
    EXPECT_EQ(Failure("format\t1\nrelease\t\n" + Row("1\t1\t-\t-\ta")),
              L"Could not read the file list (release)");
}

TEST_F(ManifestParse, DuplicatePathsAndHashesAreKept) {
    const Manifest m =
        Parsed("format\t1\n" + Row("1\t1\t-\t-\ta") + Row("1\t1\t-\t-\ta") + Row("1\t1\t-\t-\tb"));
    EXPECT_EQ(m.files.size(), 3U);
}

} // namespace
} // namespace Orv
