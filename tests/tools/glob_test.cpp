#include "orvanectl/glob.h"

#include <gtest/gtest.h>

namespace Orv {
namespace {

using Publisher::Glob;

TEST(Glob, WholePathMustMatch) {
    EXPECT_TRUE(Glob(L"lang/lang.ini").Matches(L"lang/lang.ini"));
    EXPECT_FALSE(Glob(L"lang/lang.ini").Matches(L"lang/lang.ini.bak"));
    EXPECT_FALSE(Glob(L"lang.ini").Matches(L"lang/lang.ini"));
}

TEST(Glob, StarStaysWithinOneFolder) {
    EXPECT_TRUE(Glob(L"*.ini").Matches(L"user.ini"));
    EXPECT_TRUE(Glob(L"*.ini").Matches(L".ini"));
    EXPECT_FALSE(Glob(L"*.ini").Matches(L"config/user.ini"));
    EXPECT_TRUE(Glob(L"config/*").Matches(L"config/user.ini"));
    EXPECT_FALSE(Glob(L"config/*").Matches(L"config/a/user.ini"));
    EXPECT_TRUE(Glob(L"a*b*c").Matches(L"aXbYbZc"));
}

TEST(Glob, QuestionMarkIsOneCharacterButNotASeparator) {
    EXPECT_TRUE(Glob(L"save?.dat").Matches(L"save1.dat"));
    EXPECT_FALSE(Glob(L"save?.dat").Matches(L"save.dat"));
    EXPECT_FALSE(Glob(L"save?.dat").Matches(L"save12.dat"));
    EXPECT_FALSE(Glob(L"a?b").Matches(L"a/b"));
    EXPECT_TRUE(Glob(L"?.txt").Matches(L"\u0131.txt"));
}

TEST(Glob, DoubleStarCrossesFolders) {
    EXPECT_TRUE(Glob(L"saves/**").Matches(L"saves/slot1/data.bin"));
    EXPECT_TRUE(Glob(L"saves/**").Matches(L"saves/x"));
    EXPECT_FALSE(Glob(L"saves/**").Matches(L"savesx/y"));
    EXPECT_TRUE(Glob(L"a/**.ini").Matches(L"a/b/c.ini"));
}

TEST(Glob, DoubleStarSlashIsAnyNumberOfFoldersIncludingNone) {
    const Glob glob(L"**/*.ini");
    EXPECT_TRUE(glob.Matches(L"user.ini"));
    EXPECT_TRUE(glob.Matches(L"config/user.ini"));
    EXPECT_TRUE(glob.Matches(L"a/b/c/user.ini"));
    EXPECT_FALSE(glob.Matches(L"user.ini/readme.txt"));
    EXPECT_TRUE(Glob(L"data/**/cache.bin").Matches(L"data/cache.bin"));
    EXPECT_TRUE(Glob(L"data/**/cache.bin").Matches(L"data/x/y/cache.bin"));
    EXPECT_FALSE(Glob(L"data/**/cache.bin").Matches(L"data/xcache.bin"));
}

TEST(Glob, CaseIsIgnoredForAsciiLettersOnly) {
    EXPECT_TRUE(Glob(L"LANG/*.INI").Matches(L"lang/Lang.ini"));
    EXPECT_FALSE(Glob(L"\u0130.txt").Matches(L"i.txt"));
    EXPECT_FALSE(Glob(L"\u00c7.txt").Matches(L"\u00e7.txt"));
    EXPECT_TRUE(Glob(L"\u00e7.txt").Matches(L"\u00e7.TXT"));
}

TEST(Glob, BackslashInThePatternIsASeparator) {
    EXPECT_TRUE(Glob(L"lang\\*.ini").Matches(L"lang/en.ini"));
}

TEST(Glob, ManyStarsStayFast) {
    const std::wstring path(2000, L'a');
    EXPECT_FALSE(Glob(L"*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b").Matches(path));
    EXPECT_FALSE(Glob(L"**a**a**a**a**a**a**a**a**a**a**b").Matches(path));
}

} // namespace
} // namespace Orv
