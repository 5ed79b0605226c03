// Signed packages through the real loaders: what a station with trust takes
// and refuses, what a reader without trust sees of a signed package, and the
// key files and trust folder.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>

#include "bytes/byte_order.h"
#include "package/package_loader.h"
#include "package/package_signature.h"
#include "package/trust.h"
#include "support/test_packages.h"

namespace iap {
namespace {

constexpr const char* kAccepted = "";
constexpr const char* kUnsigned = "unsigned package";
constexpr const char* kOtherKey = "package signed by another key";
constexpr const char* kChanged = "package changed after signing";

// The file with the signature section of signedFile put before its trailer.
std::vector<uint8_t> withSectionOf(std::vector<uint8_t> file, const std::vector<uint8_t>& signedFile) {
    const auto section = signedFile.end() - 8 - long(kSignatureSectionSize);
    file.insert(file.end() - 8, section, section + long(kSignatureSectionSize));
    return file;
}

// The file code-signed after its package was signed: its executable part
// made a PE32 whose security directory names a certificate table appended.
std::vector<uint8_t> codeSigned(std::vector<uint8_t> f) {
    std::fill(f.begin(), f.begin() + 0x200, 0);
    f[0] = 'M', f[1] = 'Z', f[0x80] = 'P', f[0x81] = 'E';
    storeU32(&f[0x3C], 0x80);
    storeU16(&f[0x80 + 20], 224);
    storeU16(&f[0x98], 0x10B);
    storeU32(&f[0x98 + 92], 16);
    storeU32(&f[0x98 + 128], static_cast<uint32_t>(f.size()));
    storeU32(&f[0x98 + 132], 0x100);
    f.resize(f.size() + 0x100, 0x30);
    return f;
}

TEST(SignedPackage, WithTrustOnlyWhatTheTrustedKeySignedLoads) {
    const KeyPair owner = generateKeyPair(), stranger = generateKeyPair();
    const TrustedKeys trust{{owner.publicKey}};
    PackageLayout at;
    const Package package = test::testPackage();
    const std::vector<uint8_t> plain = test::withPackage(test::fakeExecutable(3000), package, &at);
    const std::vector<uint8_t> signedFile = signToolFile(plain, owner);
    auto flipped = [&](size_t offset) {
        std::vector<uint8_t> f = signedFile;
        f[offset] ^= 0x01;
        return f;
    };
    Package otherPackage = package;
    otherPackage.settings.retryNum = 4;
    const struct { const char* what; std::vector<uint8_t> file; const char* refusal; } cases[] = {
        {"signed by the trusted key", signedFile, kAccepted},
        {"executable part changed", flipped(10), kAccepted},
        {"code-signed after signing", codeSigned(signedFile), kAccepted},
        {"the package on a new build of the bare tool",
         withSectionOf(test::withPackage(test::fakeExecutable(4500), package), signedFile), kAccepted},
        {"header: a setting", flipped(at.headerOffset + package_header::kSwitchDelay), kChanged},
        {"firmware image", flipped(at.firmwareOffset + 300), kChanged},
        {"device IDs", flipped(at.deviceIdOffset + 7), kChanged},
        {"colours", flipped(at.colourOffset + 18), kChanged},
        {"image file", flipped(at.imageFileOffsets[6] + 60), kChanged},
        {"the signature itself", flipped(signedFile.size() - 8 - 60), kChanged},
        {"signature moved to another tool file",
         withSectionOf(test::withPackage(test::fakeExecutable(3000), otherPackage), signedFile), kChanged},
        {"unsigned", plain, kUnsigned},
        {"signed by another key", signToolFile(plain, stranger), kOtherKey},
    };
    test::TempDir dir;
    const std::filesystem::path path = dir / "tool";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::writeBytes(path, c.file);
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        UpgradeContent content;
        const std::string problem = LoadUpgradeContent(path, content, trust);
        AppState state;
        state.executablePath = path;
        const bool windowLoaded = LoadPackage(
            state, [](DecodedImage&&) { return std::make_shared<ITexture>(1, 1.0f, 1.0f, [](uintptr_t) {}); },
            trust);
        const std::string warning = ::testing::internal::GetCapturedStderr();
        ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(problem.rfind(c.refusal, 0), 0u) << problem;
        EXPECT_EQ(problem.empty(), *c.refusal == '\0') << problem;
        EXPECT_EQ(windowLoaded, problem.empty()) << "the window refuses what usb-iap-flash refuses";
        if (!problem.empty()) {
            EXPECT_NE(warning.find(problem), std::string::npos) << warning;
        }
        EXPECT_EQ(content.signer, problem.empty() ? fingerprint(owner.publicKey) : "");
        // Without trust every one of them loads as it always did.
        UpgradeContent untrusted;
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(LoadUpgradeContent(path, untrusted), "");
        ::testing::internal::GetCapturedStdout();
    }
}

TEST(SignedPackage, AReaderThatKnowsNoSignaturesReadsASignedPackageUnchanged) {
    const KeyPair owner = generateKeyPair(), other = generateKeyPair();
    const std::vector<uint8_t> plain = test::withPackage(test::fakeExecutable(3000), test::testPackage());
    const std::vector<uint8_t> signedFile = signToolFile(plain, owner);
    // Only bytes between the last section and the trailer are added.
    std::vector<uint8_t> stripped = signedFile;
    stripped.erase(stripped.end() - 8 - long(kSignatureSectionSize), stripped.end() - 8);
    EXPECT_EQ(stripped, plain);
    const PackageParse before = parsePackage(plain), after = parsePackage(signedFile);
    ASSERT_TRUE(after.package) << after.error;
    EXPECT_EQ(encodePackage(*after.package, 0), encodePackage(*before.package, 0));
    // The loader without trust: the same lines after "exe size" and the path, the same content.
    test::TempDir dir;
    auto load = [&](const std::vector<uint8_t>& file, UpgradeContent& content) {
        test::writeBytes(dir / "tool", file);
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(LoadUpgradeContent(dir / "tool", content), "");
        const std::string lines = ::testing::internal::GetCapturedStdout();
        return lines.substr(lines.find('\n', lines.find('\n') + 1));
    };
    UpgradeContent old, now;
    EXPECT_EQ(load(signedFile, now), load(plain, old));
    EXPECT_EQ(now.firmware, old.firmware);
    EXPECT_EQ(now.deviceIds.size(), old.deviceIds.size());
    EXPECT_EQ(now.settings.readAckTimeout, old.settings.readAckTimeout);
    // Signing again replaces the signature rather than adding one.
    const std::vector<uint8_t> resigned = signToolFile(signedFile, other);
    EXPECT_EQ(resigned.size(), signedFile.size());
    EXPECT_EQ(readPackageSignature(resigned, parsePackage(resigned)).signer, other.publicKey);
}

TEST(SigningKeys, KeyFilesAndTheTrustFolder) {
    test::TempDir dir;
    const KeyPair keys = generateKeyPair();
    writeKeyPair(dir / "owner", keys);
    struct stat st {};
    ASSERT_EQ(::stat((dir / "owner.key").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(readSecretKeyFile(dir / "owner.key").publicKey, keys.publicKey);
    EXPECT_EQ(readPublicKeyFile(dir / "owner.pub"), keys.publicKey);
    // A key is never overwritten; keys given in the wrong place are named.
    EXPECT_THROW(writeKeyPair(dir / "owner", generateKeyPair()), std::runtime_error);
    EXPECT_EQ(readPublicKeyFile(dir / "owner.pub"), keys.publicKey);
    auto failure = [](auto read) {
        try {
            read();
        } catch (const std::runtime_error& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    EXPECT_NE(failure([&] { readPublicKeyFile(dir / "owner.key"); }).find("holds a secret key"), std::string::npos);
    EXPECT_NE(failure([&] { readSecretKeyFile(dir / "owner.pub"); }).find("holds a public key"), std::string::npos);

    // The folder: its *.pub files count, other files do not, a bad key stops the station.
    const std::filesystem::path folder = dir / "trusted-keys";
    EXPECT_FALSE(loadTrustedKeys({}, folder).configured()) << "no folder, no trust";
    std::filesystem::create_directory(folder);
    EXPECT_FALSE(loadTrustedKeys({}, folder).configured()) << "an empty folder trusts no one and changes nothing";
    std::filesystem::copy_file(dir / "owner.pub", folder / "owner.pub");
    test::writeBytes(folder / "README", {'h', 'i'});
    const TrustedKeys trust = loadTrustedKeys({}, folder);
    EXPECT_TRUE(trust.trusts(keys.publicKey));
    EXPECT_EQ(trust.keys.size(), 1u);
    test::writeBytes(folder / "broken.pub", {'x'});
    EXPECT_NE(failure([&] { loadTrustedKeys({}, folder); }).find("broken.pub"), std::string::npos);
    ::setenv("IAP_TRUSTED_KEYS_DIR", folder.c_str(), 1);
    EXPECT_EQ(systemTrustFolder(), folder);
    ::unsetenv("IAP_TRUSTED_KEYS_DIR");
    // A station's own folder cannot be swapped for another by the variable.
    EXPECT_EQ(chooseTrustFolder(folder, dir / "empty"), folder);
    EXPECT_EQ(chooseTrustFolder(dir / "none", dir / "empty"), dir / "empty");
}

}  // namespace
}  // namespace iap
