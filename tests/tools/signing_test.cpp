// Release signing with orvanectl as a process: keygen, publish --sign, sign and verify --key.
#include "support/mirror_helpers.h"
#include "core/text.h"
#include "support/test_folder.h"

#include <gtest/gtest.h>

namespace Orv {
namespace {

using Support::ReadFileOrEmpty;
using Support::RunOrvanectl;
using Support::RunResult;
using Support::TempFolder;
using Support::WriteFileBytes;

class Signing : public ::testing::Test {
protected:
    void SetUp() override { WriteFileBytes(game + L"\\data\\a.txt", "a"); }
    RunResult Publish(const std::vector<std::wstring>& extra = {}) {
        return Support::RunPublish(game, mirror, 3, extra);
    }
    std::string Manifest() const { return ReadFileOrEmpty(mirror + L"\\manifest.txt"); }

    TempFolder root;
    std::wstring game = root / L"game";
    std::wstring mirror = root / L"mirror";
};

TEST_F(Signing, KeygenPrintsThePublicKeyAndNeverOverwritesAKeyFile) {
    const RunResult made = RunOrvanectl({L"keygen", root / L"release.key"});
    ASSERT_EQ(made.exitCode, 0U) << made.output;
    EXPECT_EQ(made.output.size(), 88U + 2U) << made.output; // one line of base64, CR LF
    const std::string key = ReadFileOrEmpty(root / L"release.key");
    const RunResult again = RunOrvanectl({L"keygen", root / L"release.key"});
    EXPECT_EQ(again.exitCode, 1U);
    EXPECT_NE(again.output.find("already exists; a key file is never overwritten"), std::string::npos);
    EXPECT_EQ(ReadFileOrEmpty(root / L"release.key"), key);

    // A release signed with the new key verifies under the printed key only.
    ASSERT_EQ(Publish({L"--sign", root / L"release.key", L"--valid-days", L"30"}).exitCode, 0U);
    EXPECT_NE(Manifest().find("\nexpires\t"), std::string::npos);
    EXPECT_EQ(Manifest().rfind("\n#signature\t"), Manifest().size() - 101);
    const RunResult good = RunOrvanectl({L"verify", mirror, L"--key", Utf8ToWide(made.output.substr(0, 88))});
    EXPECT_EQ(good.exitCode, 0U) << good.output;
    EXPECT_NE(good.output.find("signature: holds"), std::string::npos) << good.output;
    const RunResult other = RunOrvanectl({L"verify", mirror, L"--key", Utf8ToWide(Support::kPublisherKey)});
    EXPECT_EQ(other.exitCode, 1U) << other.output;
    EXPECT_NE(other.output.find("signature: does not hold"), std::string::npos) << other.output;
}

TEST_F(Signing, SignReplacesTheSignatureInPlaceAndTheManifestStaysReadable) {
    ASSERT_EQ(Publish().exitCode, 0U);
    const std::string unsignedText = Manifest();
    const RunResult unchecked = RunOrvanectl({L"verify", mirror});
    EXPECT_NE(unchecked.output.find("signature: none"), std::string::npos) << unchecked.output;
    for (int round = 0; round < 2; ++round) {
        const RunResult signedRun = RunOrvanectl({L"sign", mirror, Support::PublisherKeyFile()});
        ASSERT_EQ(signedRun.exitCode, 0U) << signedRun.output;
        EXPECT_EQ(Manifest().substr(0, unsignedText.size()), unsignedText);
        EXPECT_EQ(Support::ReadManifest(mirror).files.size(), 1U);
    }
    const RunResult checked = RunOrvanectl({L"verify", mirror, L"--key", Utf8ToWide(Support::kPublisherKey)});
    EXPECT_EQ(checked.exitCode, 0U) << checked.output;
}

TEST_F(Signing, AMissingOrMalformedKeyFailsWithNothingWritten) {
    WriteFileBytes(root / L"bad.key", "orvane release signing key (ECDSA P-256)\nAAAA\n");
    for (const std::wstring& key : {root / L"missing.key", root / L"bad.key"}) {
        const RunResult published = Publish({L"--sign", key});
        EXPECT_EQ(published.exitCode, 1U) << published.output;
        EXPECT_FALSE(Support::Exists(mirror)) << published.output;
    }
    ASSERT_EQ(Publish().exitCode, 0U);
    const std::string before = Manifest();
    const RunResult signedRun = RunOrvanectl({L"sign", mirror, root / L"bad.key"});
    EXPECT_EQ(signedRun.exitCode, 1U);
    EXPECT_NE(signedRun.output.find("is not a release signing key made by \"orvanectl keygen\""),
              std::string::npos)
        << signedRun.output;
    EXPECT_EQ(Manifest(), before);
}

} // namespace
} // namespace Orv
