// The package generator `usb-iap-pack`: build, inspect and skin, and the
// loader reading what it builds.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "default_skin.h"
#include "pack_commands.h"
#include "package/byte_order.h"
#include "package/firmware_image.h"
#include "package/package_loader.h"
#include "test_packages.h"

namespace iap {
namespace {

namespace fs = std::filesystem;

struct PackRun {
    int code;
    std::string out, err;
};

PackRun pack(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int code = pack::runPackTool(args, out, err);
    return {code, out.str(), err.str()};
}

class PackToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::writeBytes(exe, test::fakeExecutable(5000));
        std::vector<uint8_t> payload(1000);
        for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i);
        test::writeBytes(payload_, payload);
    }

    std::vector<std::string> buildArgs(const fs::path& output) const {
        return {"build", "--exe", exe.string(), "--out", output.string(), "--payload",
                payload_.string(), "--device", "0483:5750:01", "--device", "0483:5751:02"};
    }

    // Files in the folder other than the inputs (no temporary leftovers).
    std::vector<std::string> strayFiles() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir.path())) {
            const std::string name = e.path().filename().string();
            if (name != "app" && name != "payload.bin" && name != "skin") names.push_back(name);
        }
        return names;
    }

    test::TempDir dir;
    fs::path exe = dir / "app";
    fs::path payload_ = dir / "payload.bin";
    fs::path tool = dir / "tool";
};

TEST_F(PackToolTest, ABuiltToolLoads) {
    std::vector<std::string> args = buildArgs(tool);
    for (std::string a : {"--retry", "5", "--reboot-delay", "1500", "--switch-delay", "500",
                          "--search-timeout", "9000", "--ack-timeout", "3000", "--chip", "STM32F4",
                          "--block-size", "256", "--colour", "2=1,0,0,1"}) {
        args.push_back(a);
    }
    const PackRun r = pack(args);
    ASSERT_EQ(r.code, 0) << r.err;

    AppState state;
    state.executablePath = tool;
    int made = 0;
    ::testing::internal::CaptureStdout();
    const bool loaded = LoadPackage(state, [&made](DecodedImage&& image) {
        ++made;
        return std::make_shared<ITexture>(made, float(image.width), float(image.height));
    });
    const std::string stdoutText = ::testing::internal::GetCapturedStdout();
    ASSERT_TRUE(loaded) << stdoutText;
    EXPECT_NE(stdoutText.find("retryNum:5\nrebootDelay:1500\nswitchDelay:500\n"
                              "searchDeviceTimeout:9000\nreadAckTimeout:3000\n"),
              std::string::npos);
    ASSERT_EQ(state.deviceIds.size(), 2u);
    EXPECT_EQ(state.deviceIds[1].productId, 0x5751);
    EXPECT_EQ(state.deviceIds[1].reportId, 0x02);
    EXPECT_EQ(state.colours[2].r, 1.0f);
    EXPECT_EQ(state.colours[2].g, 0.0f);
    const ImageHeaderView h = readImageHeader(state.firmware);
    EXPECT_EQ(h.chip, "STM32F4");
    EXPECT_EQ(h.blockCount, 4u);
    EXPECT_EQ(h.headerCrc, h.headerCrcComputed);
    EXPECT_EQ(h.payloadCrc, h.payloadCrcComputed);
    ASSERT_EQ(state.textures.size(), 19u);
    for (const skin::SkinSlot& slot : skin::skinSlots()) {
        EXPECT_EQ(state.textures.at(slot.id)->width, float(slot.width)) << slot.fileName;
        EXPECT_EQ(state.textures.at(slot.id)->height, float(slot.height)) << slot.fileName;
    }
    // The executable's own bytes are unchanged and the package starts after them.
    const std::vector<uint8_t> file = test::readBytes(tool);
    EXPECT_EQ(std::vector<uint8_t>(file.begin(), file.begin() + 5000), test::fakeExecutable(5000));
    EXPECT_EQ(loadU32(file.data() + file.size() - 8), 5000u);
    EXPECT_EQ(fs::status(tool).permissions(), fs::status(exe).permissions());
}

TEST_F(PackToolTest, AnExistingPackageIsReplacedOnlyWhenAsked) {
    ASSERT_EQ(pack(buildArgs(tool)).code, 0);
    const fs::path again = dir / "again";
    std::vector<std::string> args = buildArgs(again);
    args[2] = tool.string();  // --exe is the built tool
    PackRun r = pack(args);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find(tool.string() + ": already carries a tool package"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(again));

    args.push_back("--replace");
    args.push_back("--retry");
    args.push_back("9");
    r = pack(args);
    ASSERT_EQ(r.code, 0) << r.err;
    const std::vector<uint8_t> file = test::readBytes(again);
    EXPECT_EQ(loadU32(file.data() + file.size() - 8), 5000u) << "header right after the executable";
    EXPECT_EQ(test::readBytes(tool).size(), file.size());
    r = pack({"inspect", again.string()});
    EXPECT_NE(r.out.find("retryNum            9"), std::string::npos) << r.out;
}

TEST_F(PackToolTest, BadInputsAreNamedAndNothingIsWritten) {
    struct Case {
        std::vector<std::string> change;  // option, value
        int code;
        std::string mention;
    };
    const std::vector<Case> cases = {
        {{"--payload", (dir / "nope.bin").string()}, 1, (dir / "nope.bin").string()},
        {{"--exe", (dir / "none").string()}, 1, (dir / "none").string()},
        {{"--device", "0483:5750"}, 2, "--device \"0483:5750\""},
        {{"--device", "10000:1:1"}, 2, "(VID)"},
        {{"--retry", "-1"}, 2, "--retry"},
        {{"--block-size", "0"}, 1, "block size 0"},
        {{"--signature", "SHORT"}, 1, "signature"},
        {{"--hw-version", "1.0"}, 1, "hardware version"},
        {{"--colour", "10=0,0,0,1"}, 2, "--colour"},
        {{"--colour", "1=0,0,2,1"}, 2, "--colour"},
        {{"--skin", (dir / "noskin").string()}, 1, (dir / "noskin").string()},
        {{"--frobnicate", "1"}, 2, "--frobnicate"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = buildArgs(tool);
        auto it = std::find(args.begin(), args.end(), c.change[0]);
        if (it != args.end()) {
            *(it + 1) = c.change[1];
        } else {
            args.insert(args.end(), c.change.begin(), c.change.end());
        }
        const PackRun r = pack(args);
        EXPECT_EQ(r.code, c.code) << c.change[0] << " " << c.change[1] << ": " << r.err;
        EXPECT_NE(r.err.find(c.mention), std::string::npos) << r.err;
        EXPECT_TRUE(strayFiles().empty()) << c.change[0];
    }
    EXPECT_EQ(pack({"build", "--exe", exe.string(), "--out", tool.string(), "--payload",
                    payload_.string()}).code, 2) << "no --device";
    EXPECT_EQ(pack({"build", "--exe", exe.string(), "--out", tool.string(), "--device", "1:2:3"}).code, 2)
        << "no firmware";
}

TEST_F(PackToolTest, AReadyMadeImageIsTakenUnchangedUnlessTheEngineCannotUseIt) {
    std::vector<uint8_t> image = test::testFirmware(700, 128);
    image[3] ^= 0x20;  // header CRC no longer holds: a warning, not a refusal
    test::writeBytes(dir / "fw.img", image);
    std::vector<std::string> args = {"build", "--exe", exe.string(), "--out", tool.string(),
                                     "--image", (dir / "fw.img").string(), "--device", "1:2:3"};
    PackRun r = pack(args);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("header CRC"), std::string::npos);
    r = pack({"inspect", tool.string()});
    EXPECT_NE(r.out.find("DOES NOT HOLD"), std::string::npos);
    EXPECT_NE(r.out.find("block count       6 stored, 6 to send (last 60 bytes)"), std::string::npos)
        << r.out;

    storeU16(image.data() + 66, 9000);
    test::writeBytes(dir / "fw.img", image);
    args[4] = (dir / "tool2").string();
    r = pack(args);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("fw.img: Firmware block size 9000"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "tool2"));
}

TEST_F(PackToolTest, InspectShowsThePackageOrSaysWhyThereIsNone) {
    ASSERT_EQ(pack(buildArgs(tool)).code, 0);
    PackRun r = pack({"inspect", tool.string()});
    ASSERT_EQ(r.code, 0) << r.err;
    for (const char* text : {"retryNum            3\n", "readAckTimeout      5000 ms\n",
                             "VID 0x0483  PID 0x5751  report ID 0x02\n", "signature         \"USBIAPFW\"",
                             "block size        256\n", "block count       4 stored, 4 to send (last 232 bytes)",
                             "payload CRC       0x", "(holds)", "0 RSRC_IMG_BG: ",
                             "600x400\n", "18 RSRC_IMG_VER: "}) {
        EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
    }
    r = pack({"inspect", exe.string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find(exe.string() + ": no valid tool package"), std::string::npos) << r.err;
    r = pack({"inspect", (dir / "missing").string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("missing"), std::string::npos);
}

TEST_F(PackToolTest, ASkinFolderRoundTrips) {
    const fs::path skinDir = dir / "skin";
    ASSERT_EQ(pack({"skin", skinDir.string()}).code, 0);
    std::vector<std::string> args = buildArgs(tool);
    args.push_back("--skin");
    args.push_back(skinDir.string());
    PackRun r = pack(args);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;

    // A replaced image of another size is taken with a warning.
    test::writeBytes(skinDir / "01-logo.bmp", test::solidBmp(60, 60, 1, 2, 3));
    r = pack(args);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("60x60 pixels, drawn stretched to 119x118"), std::string::npos) << r.err;

    test::writeBytes(skinDir / "07_other.png", {1, 2, 3});
    r = pack(args);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("both hold image 7"), std::string::npos) << r.err;
    fs::remove(skinDir / "07_other.png");

    test::writeBytes(skinDir / "12-start-pressed.bmp", {'B', 'M', 1, 2});
    r = pack(args);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("12-start-pressed.bmp: not an image"), std::string::npos) << r.err;

    fs::remove(skinDir / "12-start-pressed.bmp");
    r = pack(args);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("no image for id 12 (RSRC_IMG_START)"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace iap
