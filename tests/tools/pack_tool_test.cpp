// The package generator `usb-iap-pack`: build, inspect and skin.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "bytes/byte_order.h"
#include "pack/default_skin.h"
#include "pack/pack_commands.h"
#include "pack/skin_folder.h"
#include "package/image_decode.h"
#include "package/package_loader.h"
#include "package/tool_version.h"
#include "raster/png.h"
#include "support/test_packages.h"

namespace iap {
namespace {

namespace fs = std::filesystem;

class PackToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::writeBytes(exe, test::fakeExecutable(5000));
        test::writeBytes(payload, test::fakeExecutable(1000));
    }
    // Runs usb-iap-pack; returns its exit code and keeps what it wrote.
    int pack(const std::vector<std::string>& args) {
        std::ostringstream o, e;
        const int code = pack::runPackTool(args, o, e);
        out = o.str();
        err = e.str();
        return code;
    }
    std::vector<std::string> buildArgs(const fs::path& output) const {
        return {"build", "--exe", exe.string(), "--out", output.string(), "--payload", payload.string(),
                "--device", "0483:5750:01", "--device", "0483:5751:02"};
    }
    static bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

    test::TempDir dir;
    fs::path exe = dir / "app", payload = dir / "payload.bin", tool = dir / "tool";
    std::string out, err;
};

TEST_F(PackToolTest, BuildAppendsExactlyThePackageItWasAskedFor) {
    std::vector<std::string> args = buildArgs(tool);
    args.insert(args.end(), {"--retry", "5", "--reboot-delay", "1500", "--switch-delay", "500", "--search-timeout",
                             "9000", "--ack-timeout", "3000", "--chip", "STM32F4", "--colour", "2=1,0,0,1"});
    ASSERT_EQ(pack(args), 0) << err;
    Package expected;
    expected.settings = {5, 1500, 500, 9000, 3000};
    ImageHeaderFields header;
    header.chip = "STM32F4";
    expected.firmware = buildFirmwareImage(header, test::fakeExecutable(1000));
    expected.deviceIds = {{0x01, 0x5750, 0x0483}, {0x02, 0x5751, 0x0483}};
    expected.colours = defaultColours();
    expected.colours[2] = {1, 0, 0, 1};
    expected.images = pack::defaultSkinImages();
    EXPECT_TRUE(test::readBytes(tool) == test::withPackage(test::fakeExecutable(5000), expected));
    EXPECT_EQ(fs::status(tool).permissions(), fs::status(exe).permissions());

    ASSERT_EQ(pack({"inspect", tool.string()}), 0) << err;
    for (const char* text : {"retryNum            5\n", "readAckTimeout      3000 ms\n",
                             "VID 0x0483  PID 0x5751  report ID 0x02\n", "chip              \"STM32F4\"",
                             "block count       4 stored, 4 to send (last 232 bytes)", "(holds)",
                             "0 RSRC_IMG_BG: 720054 bytes, 600x400\n", "18 RSRC_IMG_VER: "}) {
        EXPECT_TRUE(has(out, text)) << text << "\n" << out;
    }
}

TEST_F(PackToolTest, TheBuiltInSkinHasTheTableSizesInBitmaps) {
    const std::vector<skin::SkinImage> images = skin::makeDefaultSkin();
    ASSERT_EQ(images.size(), 19u);
    for (const skin::SkinSlot& slot : skin::skinSlots()) {
        const std::vector<uint8_t>& file = images[size_t(slot.id)].file;
        EXPECT_EQ(std::string(file.begin(), file.begin() + 2), "BM");
        EXPECT_EQ(loadU16(&file[28]), slot.alpha ? 32 : 24) << slot.fileName;  // the three labels
        EXPECT_GT(int32_t(loadU32(&file[22])), 0) << "bottom-up rows";
        const DecodedImage decoded = decodeImage(file);
        EXPECT_EQ(decoded.width, slot.width) << slot.fileName;
        EXPECT_EQ(decoded.height, slot.height) << slot.fileName;
        int clear = 0;  // the labels keep their transparency
        for (size_t i = 3; i < decoded.rgba.size(); i += 4) clear += decoded.rgba[i] == 0;
        EXPECT_EQ(clear > 200, slot.alpha) << slot.fileName;
    }
}

TEST_F(PackToolTest, AnExistingPackageIsReplacedOnlyWhenAsked) {
    ASSERT_EQ(pack(buildArgs(tool)), 0);
    const fs::path again = dir / "again";
    std::vector<std::string> args = buildArgs(again);
    args[2] = tool.string();  // --exe is the built tool
    EXPECT_EQ(pack(args), 1);
    EXPECT_TRUE(has(err, tool.string() + ": already carries a tool package")) << err;
    EXPECT_FALSE(fs::exists(again));
    // A ready-made image is taken unchanged; a header CRC that does not hold is only a warning.
    std::vector<uint8_t> image = test::testFirmware(700, 128);
    image[3] ^= 0x20;
    test::writeBytes(dir / "fw.img", image);
    args.erase(args.begin() + 5, args.begin() + 7);  // --payload
    args.insert(args.end(), {"--replace", "--retry", "9", "--image", (dir / "fw.img").string()});
    ASSERT_EQ(pack(args), 0) << err;
    EXPECT_TRUE(has(err, "header CRC")) << err;
    const std::vector<uint8_t> file = test::readBytes(again);
    EXPECT_EQ(loadU32(&file[file.size() - 8]), 5000u) << "the old package is gone";
    pack({"inspect", again.string()});
    for (const char* text : {"retryNum            9", "header CRC        0x", "DOES NOT HOLD",
                             "block count       6 stored, 6 to send (last 60 bytes)"}) {
        EXPECT_TRUE(has(out, text)) << text << "\n" << out;
    }
}

TEST_F(PackToolTest, BadInputsAreNamedAndNothingIsWritten) {
    std::vector<uint8_t> image = test::testFirmware(700, 128);
    storeU16(&image[66], 9000);
    test::writeBytes(dir / "fw.img", image);
    const std::string nope = (dir / "nope").string();
    // Options given again replace the earlier value; `drop` takes one out.
    const struct { std::vector<std::string> add; int code; std::string mention; std::string drop; } cases[] = {
        {{"--payload", nope}, 1, nope}, {{"--exe", nope}, 1, nope}, {{"--skin", nope}, 1, nope},
        {{"--device", "0483:5750"}, 2, "--device \"0483:5750\""}, {{"--device", "10000:1:1"}, 2, "(VID)"},
        {{"--retry", "-1"}, 2, "--retry"}, {{"--block-size", "0"}, 1, "block size 0"},
        {{"--ack-timeout", "4294967295"}, 2, "--ack-timeout"}, {{"--search-timeout", "2147483648"}, 2, "--search-timeout"},
        {{"--signature", "SHORT"}, 1, "signature"}, {{"--hw-version", "1.0"}, 1, "hardware version"},
        {{"--colour", "10=0,0,0,1"}, 2, "--colour"}, {{"--colour", "1=0,0,2,1"}, 2, "--colour"},
        {{"--frobnicate", "1"}, 2, "--frobnicate"}, {{"--payload-format", "coff"}, 2, "--payload-format"},
        {{"--fill", "256"}, 2, "--fill"}, {{"--base", "0x10", "--image", (dir / "fw.img").string()}, 2, "--base", "--payload"}, {{}, 2, "exactly one of --payload", "--payload"},
        {{"--image", (dir / "fw.img").string()}, 1, "fw.img: Firmware block size 9000", "--payload"},
        // Without --exe: the installed tool, which a build tree does not have.
        {{}, 2, "no --exe given, and there is no installed tool at", "--exe"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = buildArgs(tool);
        if (!c.drop.empty()) {
            const auto it = std::find(args.begin(), args.end(), c.drop);
            args.erase(it, it + 2);
        }
        args.insert(args.end(), c.add.begin(), c.add.end());
        EXPECT_EQ(pack(args), c.code) << c.mention << ": " << err;
        EXPECT_TRUE(has(err, c.mention)) << err;
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 3) << "stray files";
    }
    EXPECT_EQ(pack({"inspect", exe.string()}), 1);
    EXPECT_TRUE(has(err, exe.string() + ": no valid tool package")) << err;
    // A package made elsewhere with a time-out that reads as negative.
    Package p = test::testPackage();
    p.settings.readAckTimeout = 0xFFFFFFFFu;
    test::writeBytes(dir / "hang", test::withPackage(test::fakeExecutable(100), p));
    EXPECT_EQ(pack({"inspect", (dir / "hang").string()}), 1);
    EXPECT_TRUE(has(err, "readAckTimeout 4294967295 is -1 ms as the tool reads it")) << err;
    // Images that would cost too much to decode: named, nothing decoded.
    p = test::testPackage();
    for (int i = 0; i < 3; ++i) p.images.push_back({0, raster::encodePngRows(2048, 2048, std::vector<uint8_t>(16, 0))});
    test::writeBytes(dir / "bomb", test::withPackage(test::fakeExecutable(100), p));
    EXPECT_EQ(pack({"inspect", (dir / "bomb").string()}), 1);
    EXPECT_TRUE(has(err, "the images together are more than")) << err;
    EXPECT_TRUE(has(out, "0 RSRC_IMG_BG: ")) << out;
}

// A tool's version is the marker in its executable part; markers in the
// package (the firmware may hold any text) and broken ones do not count.
TEST_F(PackToolTest, InspectReadsTheVersionOfTheExecutableOnly) {
    using namespace std::string_literals;
    const std::string marker = "USB-IAP-TOOL-VERSION:";
    const auto bytesOf = [](const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); };
    std::vector<uint8_t> app = test::fakeExecutable(3000);
    const std::vector<uint8_t> broken = bytesOf(marker + "\0"s + marker + "1.0 beta\0"s + marker + "9.9.9");
    app.insert(app.begin() + 100, broken.begin(), broken.end());
    test::writeBytes(exe, app);
    test::writeBytes(payload, bytesOf(marker + "7.7.7\0"s));
    ASSERT_EQ(pack(buildArgs(tool)), 0) << err;
    ASSERT_EQ(pack({"inspect", tool.string()}), 0) << err;
    EXPECT_TRUE(has(out, "tool version: unknown (no version marker in the executable)\n")) << out;

    const std::vector<uint8_t> good = bytesOf(marker + "2.3.4-rc1\0"s);
    app.insert(app.begin() + 2000, good.begin(), good.end());
    test::writeBytes(exe, app);
    ASSERT_EQ(pack(buildArgs(tool)), 0) << err;
    ASSERT_EQ(pack({"inspect", tool.string()}), 0) << err;
    EXPECT_TRUE(has(out, "tool version: 2.3.4-rc1\n")) << out;
    EXPECT_EQ(pack({"inspect", exe.string()}), 1);
    EXPECT_TRUE(has(err, "no valid tool package: ") && has(err, "(the executable is a tool of version 2.3.4-rc1)"))
        << err;

    // This program carries the marker of its own version, as every program
    // of the project does, and --version prints it.
    EXPECT_EQ(findToolVersion(test::readBytes(currentExecutablePath())), std::string(toolVersion()));
    EXPECT_EQ(pack({"--version"}), 0);
    EXPECT_EQ(out, "usb-iap-pack " + std::string(toolVersion()) + "\n");
}

TEST_F(PackToolTest, HelpListsTheCommandsAndTheirOptions) {
    const struct { std::vector<std::string> args; std::vector<std::string> shown; } cases[] = {
        {{"--help"}, {"build", "inspect", "skin", "--version"}},
        {{"help"}, {"build", "inspect", "skin"}},
        {{"build", "--help"}, {"--exe", "--out", "--payload", "--image", "--device", "--colour,--color",
                               "--block-size", "--ack-timeout", "--replace", "then sign"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(pack(c.args), 0) << c.args[0];
        for (const std::string& text : c.shown) EXPECT_TRUE(has(out, text)) << text << "\n" << out;
    }
    EXPECT_EQ(pack({}), 2);
    EXPECT_TRUE(has(err, "build")) << err;
    const struct { std::vector<std::string> args; std::string mention; } refused[] = {
        {{"frob"}, "unknown command \"frob\""}, {{"inspect", "a", "b"}, "inspect takes one argument"},
        {{"build", "--replace=1"}, "replace"}, {{"build", "--exe", "x", "--out"}, "--out needs a value"}};
    for (const auto& r : refused) {
        EXPECT_EQ(pack(r.args), 2) << r.mention;
        EXPECT_TRUE(has(err, r.mention)) << err;
    }
}

// The output may replace the executable it is made from, never another input.
TEST_F(PackToolTest, AnOutputThatIsAnInputIsRefused) {
    const fs::path skin = dir / "skin";
    ASSERT_EQ(pack({"skin", skin.string()}), 0);
    const fs::path firmware = dir / "firmware.bin";
    const fs::path alias = dir / "alias.bin";
    test::writeBytes(firmware, std::vector<uint8_t>(3000, 0x5A));
    fs::create_hard_link(firmware, alias);  // another name, the same file
    const std::vector<uint8_t> before = test::readBytes(firmware);
    for (const fs::path& output : {firmware, alias, skin / "01-logo.bmp"}) {
        std::vector<std::string> args = buildArgs(output);
        const auto it = std::find(args.begin(), args.end(), "--payload");
        it[1] = firmware.string();
        args.insert(args.end(), {"--skin", skin.string()});
        EXPECT_EQ(pack(args), 1) << output;
        EXPECT_TRUE(has(err, "is the same file as")) << err;
    }
    EXPECT_EQ(test::readBytes(firmware), before);
    std::vector<std::string> inPlace = buildArgs(exe);  // --out the --exe itself
    EXPECT_EQ(pack(inPlace), 0) << err;
}

TEST_F(PackToolTest, ASkinFolderRoundTrips) {
    const fs::path skin = dir / "skin";
    ASSERT_EQ(pack({"skin", skin.string()}), 0);
    std::vector<std::string> args = buildArgs(tool);
    args.insert(args.end(), {"--skin", skin.string()});
    ASSERT_EQ(pack(args), 0) << err;
    EXPECT_EQ(err, "");
    test::writeBytes(skin / "01-logo.bmp", test::solidBmp(60, 60, 1, 2, 3));  // another size: a warning
    EXPECT_EQ(pack(args), 0) << err;
    EXPECT_TRUE(has(err, "60x60 pixels, drawn stretched to 119x118")) << err;
    const struct { const char* file; std::vector<uint8_t> bytes; const char* mention; } broken[] = {
        {"07_other.png", {1, 2, 3}, "both hold image 7"},
        {"12-start-pressed.bmp", {'B', 'M', 1, 2}, "12-start-pressed.bmp: not an image"},
        // Image bombs: the same caps as the tool's.
        {"12-start-pressed.bmp", raster::encodePngRows(4096, 4096, std::vector<uint8_t>(16, 0)), "is 4096x4096 pixels"},
        {"12-start-pressed.bmp", raster::encodePngRows(1, 1, std::vector<uint8_t>(32u << 20, 0)),
         "12-start-pressed.bmp: not an image"},
        {"12-start-pressed.bmp", {}, "no image for id 12 (RSRC_IMG_START)"},  // removed
    };
    for (const auto& b : broken) {
        b.bytes.empty() ? void(fs::remove(skin / b.file)) : test::writeBytes(skin / b.file, b.bytes);
        EXPECT_EQ(pack(args), 1) << b.file;
        EXPECT_TRUE(has(err, b.mention)) << err;
        fs::remove(skin / "07_other.png");
    }
}

}  // namespace
}  // namespace iap
