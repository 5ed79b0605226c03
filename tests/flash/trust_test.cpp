// usb-iap-flash with trusted keys: what it refuses, with which text and exit
// code, before any device is opened; and without trust, every package as
// before.
#include <gtest/gtest.h>

#include <cstdlib>

#include "package/package_signature.h"
#include "support/flash_rig.h"

namespace iap {
namespace {

// The system trust folder for the test's time.
struct TrustFolder {
    explicit TrustFolder(const std::filesystem::path& folder) { ::setenv("IAP_TRUSTED_KEYS_DIR", folder.c_str(), 1); }
    ~TrustFolder() { ::unsetenv("IAP_TRUSTED_KEYS_DIR"); }
};

TEST(FlashTrust, UnsignedOtherKeyAndChangedPackagesAreRefusedBeforeAnyDeviceOpens) {
    test::FlashRig rig;
    const std::filesystem::path folder = rig.dir / "trusted-keys";
    TrustFolder noFolder(folder);
    auto device = rig.plug("1-4.1");
    const KeyPair owner = generateKeyPair(), stranger = generateKeyPair();
    writeKeyPair(rig.dir / "owner", owner);
    const std::string ownerPub = (rig.dir / "owner.pub").string();
    const std::vector<uint8_t> plain = test::readBytes(rig.tool);
    const std::vector<uint8_t> signedFile = signToolFile(plain, owner);
    std::vector<uint8_t> changed = signedFile;
    changed[3000 + 32] ^= 0x04;  // retryNum 3 becomes 7
    auto file = [&](const char* name, const std::vector<uint8_t>& bytes) {
        test::writeBytes(rig.dir / name, bytes);
        return (rig.dir / name).string();
    };
    const std::string unsignedTool = rig.tool.string(), otherTool = file("other", signToolFile(plain, stranger)),
                      changedTool = file("changed", changed), signedTool = file("signed", signedFile);
    const struct { std::vector<std::string> args; const char* says; bool inFolder; } cases[] = {
        {{"flash", unsignedTool, "--trust", ownerPub}, "no usable tool package: unsigned package", false},
        {{"flash", otherTool, "--trust", ownerPub}, "no usable tool package: package signed by another key", false},
        {{"line", changedTool, "--trust", ownerPub}, "no usable tool package: package changed after signing", false},
        {{"flash", unsignedTool, "--trust", (rig.dir / "missing.pub").string()}, "missing.pub: cannot open", false},
        {{"flash", unsignedTool}, "no usable tool package: unsigned package", true},
        {{"list", changedTool}, "no usable tool package: package changed after signing", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[1]);
        if (c.inFolder) {
            std::filesystem::create_directories(folder);
            std::filesystem::copy_file(ownerPub, folder / "owner.pub", std::filesystem::copy_options::skip_existing);
        }
        test::SharedText outText, errText;
        std::ostream out(&outText), err(&errText);
        flash::FlashIo io{rig.bus, out, err, rig.stop, nullptr};
        EXPECT_EQ(flash::runFlashTool(c.args, io), 2);
        EXPECT_NE(errText.text().find(c.says), std::string::npos) << errText.text();
    }
    EXPECT_EQ(device->openCount(), 0u);

    // A package signed by a trusted key upgrades; without trust a changed one does, as before.
    // The record names the signer, and no one for a signature that does not hold.
    rig.tool = signedTool;
    EXPECT_EQ(rig.run("flash", {"--json"}), 0) << rig.errText.text();
    EXPECT_TRUE(rig.recordLines().back().ends_with("," + fingerprint(owner.publicKey) + "\r"));
    std::filesystem::remove_all(folder);
    rig.tool = changedTool;
    EXPECT_EQ(rig.run("flash", {"--json"}), 0) << rig.errText.text();
    EXPECT_TRUE(rig.recordLines().back().ends_with(",\r"));
}

}  // namespace
}  // namespace iap
