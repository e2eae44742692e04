// Signed releases: which manifests a launcher with a release key takes, and why it refuses the others.
#include "core/base64.h"
#include "core/log.h"
#include "core/text.h"
#include "orvanectl/release_manifest.h"
#include "orvanectl/signing_key.h"
#include "support/mirror_env.h"
#include "support/mirror_helpers.h"
#include "support/test_folder.h"
#include "update/mirrors.h"
#include "update/trust/release_floor.h"
#include "update/trust/release_trust.h"

#include <gtest/gtest.h>

namespace Orv {
namespace {

using Support::TempFolder;

constexpr const wchar_t* kNotSigned = L"The release is not signed by the publisher.";
constexpr const wchar_t* kExpired = L"The release has expired.";
constexpr const wchar_t* kExpiredByTheClock =
    L"The release has expired, or this PC's date and time are wrong: check them in the Windows settings.";
constexpr const wchar_t* kOlder = L"The release is older than the installed one.";

std::string Release(int release, const std::string& extraKeys = {}) {
    return "format\t1\nrelease\t" + std::to_string(release) + "\n" + extraKeys + "f\t" +
           std::string(64, 'a') + "\t1\t1\t-\t-\ta.txt\n";
}

class SignedRelease : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(Support::MirrorRoot().empty());
        turkishBefore = IsTurkish();
        SetTurkish(false);
        OpenLog(folder / L"launcher.log");
        auto read = Publisher::ReadSigningKey(Support::PublisherKeyFile());
        ASSERT_TRUE(read.ok()) << Support::Utf8(read.message);
        key = *read.value;
    }
    void TearDown() override { SetTurkish(turkishBefore); }

    std::string Sign(const std::string& text, const Publisher::SigningKey& with) {
        auto signedText = Publisher::SignManifestText(text, with);
        EXPECT_TRUE(signedText.ok()) << Support::Utf8(signedText.message);
        return signedText.value.value_or("");
    }
    // A mirror that serves the text as its manifest; returns its base URL.
    std::wstring Serve(const std::wstring& name, const std::string& text) {
        const std::wstring folderName = L"trust_" + std::to_wstring(::GetTickCount64()) + L"_" + name;
        Support::WriteFileBytes(Support::MirrorRoot() + L"\\" + folderName + L"\\manifest.txt", text);
        return Support::HttpBase() + folderName + L"/";
    }
    std::string LogText() { return Support::ReadFileOrEmpty(folder / L"launcher.log"); }

    TempFolder folder;
    Publisher::SigningKey key;
    ReleaseTrust trust{Support::kPublisherKey, 5};
    bool turkishBefore = false;
};

TEST_F(SignedRelease, EveryBadManifestIsRefusedWithItsReasonAndTheNextMirrorServes) {
    TempFolder keys;
    auto other = Publisher::MakeSigningKey(keys / L"other.key");
    ASSERT_TRUE(other.ok()) << Support::Utf8(other.message);
    const std::string good = Sign(Release(5), key);
    const std::string line = good.substr(good.rfind("#signature"));
    const std::string body = good.substr(0, good.size() - line.size());
    std::string flipped = good;
    flipped[body.find("a.txt")] ^= 0x01;
    const std::string past =
        WideToUtf8(Publisher::UtcTimestamp(Publisher::UtcNow() - Publisher::kTimePerDay));

    const std::vector<std::tuple<std::wstring, std::string, std::wstring>> cases{
        {L"unsigned", Release(5), kNotSigned},
        {L"notlast", body + line + "# a comment after the signature\n", kNotSigned},
        {L"badbase64", body + "#signature\t" + std::string(86, '!') + "==\n", kNotSigned},
        {L"short", body + "#signature\t" + Base64Encode(std::string(63, 'x')) + "\n", kNotSigned},
        {L"flipped", flipped, kNotSigned},
        {L"otherkey", Sign(Release(5), *other.value), kNotSigned},
        {L"expired", Sign(Release(5, "expires\t" + past + "\n"), key), kExpiredByTheClock},
        {L"garbledexpiry", Sign(Release(5, "expires\t2999-02-30T00:00:00Z\n"), key), kExpired},
        {L"older", Sign(Release(4), key), kOlder},
    };
    const std::wstring goodMirror = Serve(L"good", good);
    for (const auto& [name, text, reason] : cases) {
        const std::wstring bad = Serve(name, text);
        int index = -1;
        const auto alone = FetchManifest({bad}, trust, {}, index);
        EXPECT_FALSE(alone.ok()) << Support::Utf8(name);
        EXPECT_EQ(alone.message, reason) << Support::Utf8(name);
        const auto fallen = FetchManifest({bad, goodMirror}, trust, {}, index);
        EXPECT_TRUE(fallen.ok()) << Support::Utf8(name);
        EXPECT_EQ(index, 1) << Support::Utf8(name);
        EXPECT_NE(LogText().find(WideToUtf8(bad)), std::string::npos) << Support::Utf8(name);
    }
    SetTurkish(true);
    int index = -1;
    EXPECT_EQ(FetchManifest({Serve(L"tr", Release(5))}, trust, {}, index).message,
              L"Sürüm yayıncı tarafından imzalanmamış.");
}

TEST_F(SignedRelease, WithoutAKeyEveryManifestIsTakenAsBefore) {
    int index = -1;
    const ReleaseTrust none{};
    for (const std::string& text : {Release(1), Sign(Release(1, "expires\t2001-01-01T00:00:00Z\n"), key),
                                    Release(1) + "#signature\tnot base64\n"}) {
        const auto fetched = FetchManifest({Serve(L"nokey", text)}, none, {}, index);
        ASSERT_TRUE(fetched.ok()) << Support::Utf8(fetched.message);
        EXPECT_EQ(fetched.value->text, text);
    }
}

TEST_F(SignedRelease, TheFloorIsTheHigherOfTheCopyAndTheRegistryAndWhatCannotBeReadCountsForNothing) {
    const std::wstring game = folder.Path();
    const std::wstring copy = folder / L".orvane\\manifest.txt";
    const auto floor = [&] { return TrustForRun(Support::kPublisherKey, game).floorRelease; };
    Support::MakeDirectories(folder / L".orvane");
    EXPECT_FALSE(floor());
    Support::WriteFileBytes(copy, Release(7));
    EXPECT_EQ(floor(), 7);
    EXPECT_FALSE(TrustForRun("", game).floorRelease);
    EXPECT_EQ(LogText().find("release floor"), std::string::npos);

    // Kept only with a key, and only ever raised.
    KeepReleaseFloor("", game, 9);
    EXPECT_EQ(floor(), 7);
    KeepReleaseFloor(Support::kPublisherKey, game, 9);
    KeepReleaseFloor(Support::kPublisherKey, game, 8);
    EXPECT_EQ(floor(), 9);
    ::DeleteFileW(copy.c_str());
    EXPECT_EQ(floor(), 9);
    Support::WriteFileBytes(copy, "format\t1\nrelease\t12\n");
    EXPECT_EQ(floor(), 9);
    EXPECT_NE(LogText().find("manifest.txt: Could not read the file list (empty); not counted"),
              std::string::npos);
    ::DeleteFileW(copy.c_str());
    Support::MakeDirectories(copy);
    EXPECT_EQ(floor(), 9);
    EXPECT_NE(LogText().find("manifest.txt cannot be read; not counted"), std::string::npos);
    // The folder under another spelling has the same floor.
    EXPECT_EQ(TrustForRun(Support::kPublisherKey, game + L"\\").floorRelease, 9);

    // A value of another type cannot be read, counts for nothing, and is replaced by the next floor.
    RemoveReleaseFloor(game);
    EXPECT_FALSE(floor());
    std::wstring name(MAX_PATH, L'\0');
    name.resize(::GetFullPathNameW(game.c_str(), MAX_PATH, name.data(), nullptr));
    ::CharUpperBuffW(name.data(), static_cast<DWORD>(name.size()));
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, kReleaseFloorKey, name.c_str(), REG_SZ, L"9", 4),
              ERROR_SUCCESS);
    EXPECT_FALSE(floor());
    EXPECT_NE(LogText().find("cannot be read"), std::string::npos);
    KeepReleaseFloor(Support::kPublisherKey, game, 3);
    EXPECT_EQ(floor(), 3);
    RemoveReleaseFloor(game);
    EXPECT_FALSE(floor());
}

} // namespace
} // namespace Orv
