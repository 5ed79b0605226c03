// usb-iap-pack's signing commands: keygen, build --sign, sign in place,
// verify with its exit codes, and the signer in inspect.
#include <gtest/gtest.h>

#include <sstream>

#include "pack/pack_commands.h"
#include "package/signing_key.h"
#include "support/test_packages.h"

namespace iap {
namespace {

namespace fs = std::filesystem;

TEST(PackSign, KeygenBuildSignVerifyAndInspect) {
    test::TempDir dir;
    std::string out, err;
    auto pack = [&](const std::vector<std::string>& args) {
        std::ostringstream o, e;
        const int code = pack::runPackTool(args, o, e);
        out = o.str(), err = e.str();
        return code;
    };
    auto has = [](const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; };
    const std::string owner = (dir / "owner").string(), stranger = (dir / "stranger").string();
    ASSERT_EQ(pack({"keygen", "--out", owner}), 0) << err;
    const std::string print = fingerprint(readPublicKeyFile(owner + ".pub"));
    EXPECT_TRUE(has(out, print));
    ASSERT_EQ(pack({"keygen", "--out", stranger}), 0) << err;
    EXPECT_EQ(pack({"keygen", "--out", owner}), 1) << "an existing key is never overwritten";
    EXPECT_TRUE(has(err, "already exists"));

    test::writeBytes(dir / "app", test::fakeExecutable(5000));
    test::writeBytes(dir / "payload", test::fakeExecutable(1000));
    const std::vector<std::string> build = {"build", "--exe", (dir / "app").string(), "--payload",
                                            (dir / "payload").string(), "--device", "0483:5750:01", "--out"};
    auto built = [&](const char* name, std::vector<std::string> extra = {}) {
        std::vector<std::string> args = build;
        args.push_back((dir / name).string());
        args.insert(args.end(), extra.begin(), extra.end());
        EXPECT_EQ(pack(args), 0) << err;
        return (dir / name).string();
    };
    const std::string signedTool = built("signed", {"--sign", owner + ".key"});
    EXPECT_TRUE(has(out, "signed with the key " + print));
    const std::string plainTool = built("plain");
    std::vector<uint8_t> bytes = test::readBytes(signedTool);
    bytes[5000 + 52 + 200] ^= 1;  // a firmware byte
    test::writeBytes(dir / "changed", bytes);

    const struct { std::string tool, key; int code; const char* says; } verifies[] = {
        {signedTool, owner + ".pub", 0, "signed by the key"},
        {plainTool, owner + ".pub", 3, "unsigned package"},
        {signedTool, stranger + ".pub", 4, "package signed by another key"},
        {(dir / "changed").string(), owner + ".pub", 5, "package changed after signing"},
        {signedTool, owner + ".key", 1, "holds a secret key; give the .pub file"},
        {(dir / "app").string(), owner + ".pub", 1, "no valid tool package"},
    };
    for (const auto& v : verifies) {
        SCOPED_TRACE(v.tool + " " + v.key);
        EXPECT_EQ(pack({"verify", v.tool, "--key", v.key}), v.code);
        EXPECT_TRUE(has(out + err, v.says)) << out << err;
    }
    EXPECT_EQ(pack({"verify", signedTool}), 2) << "--key is required";

    EXPECT_EQ(pack({"inspect", plainTool}), 0);
    EXPECT_TRUE(has(out, "\nsigner: unsigned\n")) << out;
    // In place: only the signature is added, the file stays executable.
    ASSERT_EQ(pack({"sign", plainTool, "--key", owner + ".key"}), 0) << err;
    EXPECT_EQ(test::readBytes(plainTool), test::readBytes(signedTool));
    EXPECT_EQ(fs::status(plainTool).permissions(), fs::status(dir / "app").permissions());
    EXPECT_EQ(pack({"inspect", plainTool}), 0);
    EXPECT_TRUE(has(out, "\nsigner: " + print + "\n")) << out;
    // A file without a package is refused and left as it was.
    EXPECT_EQ(pack({"sign", (dir / "app").string(), "--key", owner + ".key"}), 1);
    EXPECT_EQ(test::readBytes(dir / "app"), test::fakeExecutable(5000));
}

}  // namespace
}  // namespace iap
