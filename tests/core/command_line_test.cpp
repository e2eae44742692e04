#include "core/command_line.h"

#include <gtest/gtest.h>

namespace Orv {
namespace {

Arguments Args(std::initializer_list<const wchar_t*> list) {
    Arguments args{L"Orvane.exe"};
    for (const wchar_t* a : list) {
        args.emplace_back(a);
    }
    return args;
}

TEST(Options, MatchWholeArgumentsIgnoringAsciiCaseOnly) {
    EXPECT_TRUE(SameOption(L"--INSTALL", L"--install"));
    EXPECT_TRUE(SameOption(L"--Auto", L"--auto"));
    EXPECT_FALSE(SameOption(L"-install", L"--install"));
    EXPECT_FALSE(SameOption(L"--install=C:\\x", L"--install"));
    EXPECT_FALSE(SameOption(L"--inst", L"--install"));
    // Only A to Z fold: a dotted capital I is not an i.
    EXPECT_FALSE(SameOption(L"--\u0130NSTALL", L"--install"));
}

TEST(Options, FlagsArePositionIndependentAndArgv0IsNeverExamined) {
    EXPECT_TRUE(HasFlag(Args({L"x", L"--repair", L"y"}), L"--repair"));
    EXPECT_FALSE(HasFlag(Arguments{L"--repair"}, L"--repair"));
    EXPECT_FALSE(HasFlag(Args({L"--unknown"}), L"--repair"));
}

TEST(Options, ValuedOptionTakesTheNextArgumentWhateverItIs) {
    EXPECT_EQ(OptionValue(Args({L"--install", L"--no-desktop"}), L"--install"), L"--no-desktop");
    EXPECT_EQ(OptionValue(Args({L"a", L"--INSTALL", L"C:\\G", L"--install", L"D:\\H"}), L"--install"),
              L"C:\\G");
}

TEST(Options, ValuedOptionAsLastArgumentIsIgnored) {
    EXPECT_FALSE(OptionValue(Args({L"--install"}), L"--install"));
    EXPECT_FALSE(OptionValue(Args({L"--auto", L"--install"}), L"--install"));
}

TEST(Options, PidIsReadLikeWcstol) {
    EXPECT_EQ(ParseDecimal(L"1234"), 1234);
    EXPECT_EQ(ParseDecimal(L"  +42"), 42);
    EXPECT_EQ(ParseDecimal(L"-7"), -7);
    EXPECT_EQ(ParseDecimal(L"99abc"), 99);
    EXPECT_EQ(ParseDecimal(L"abc"), 0);
    EXPECT_EQ(ParseDecimal(L""), 0);
    EXPECT_EQ(ParseDecimal(L"99999999999"), 2147483647);
}

TEST(StartModes, UninstallRunWinsOverEverything) {
    const auto r = ParseStartRequest(Args(
        {L"--uninstall", L"--install", L"C:\\a", L"--uninstall-run", L"D:\\g", L"--pid", L"77", L"--quiet"}));
    EXPECT_EQ(r.kind, StartKind::UninstallRun);
    EXPECT_EQ(r.folder, L"D:\\g");
    EXPECT_EQ(r.pid, 77U);
    EXPECT_TRUE(r.quiet);
}

TEST(StartModes, UninstallRunWithoutPidPassesZero) {
    const auto r = ParseStartRequest(Args({L"--uninstall-run", L"D:\\g", L"--quiet"}));
    EXPECT_EQ(r.kind, StartKind::UninstallRun);
    EXPECT_EQ(r.pid, 0U);
    const auto junk = ParseStartRequest(Args({L"--uninstall-run", L"D:\\g", L"--pid", L"junk"}));
    EXPECT_EQ(junk.pid, 0U);
}

TEST(StartModes, UninstallComesBeforeInstall) {
    EXPECT_EQ(ParseStartRequest(Args({L"--install", L"C:\\a", L"--UNINSTALL"})).kind, StartKind::Uninstall);
}

TEST(StartModes, SilentInstallReadsTheDesktopFlag) {
    auto r = ParseStartRequest(Args({L"--install", L"C:\\Games\\Orvane", L"--no-desktop"}));
    EXPECT_EQ(r.kind, StartKind::Install);
    EXPECT_EQ(r.folder, L"C:\\Games\\Orvane");
    EXPECT_FALSE(r.desktop);
    EXPECT_TRUE(ParseStartRequest(Args({L"--install", L"C:\\x"})).desktop);
}

TEST(StartModes, InstallAsOnlyArgumentFallsThroughToNormalStart) {
    EXPECT_EQ(ParseStartRequest(Args({L"--install"})).kind, StartKind::Normal);
    EXPECT_EQ(ParseStartRequest(Args({L"--install=C:\\x"})).kind, StartKind::Normal);
    EXPECT_EQ(ParseStartRequest(Args({L"-install", L"C:\\x"})).kind, StartKind::Normal);
}

TEST(StartModes, NormalStartReadsTheFourFlags) {
    const auto r =
        ParseStartRequest(Args({L"--AUTO", L"--repair", L"--updated", L"--no-self-update", L"--x"}));
    EXPECT_EQ(r.kind, StartKind::Normal);
    EXPECT_TRUE(r.autoMode);
    EXPECT_TRUE(r.repair);
    EXPECT_TRUE(r.updated);
    EXPECT_TRUE(r.noSelfUpdate);
    const auto none = ParseStartRequest(Args({}));
    EXPECT_FALSE(none.autoMode || none.repair || none.updated || none.noSelfUpdate);
}

} // namespace
} // namespace Orv
