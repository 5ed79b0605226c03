// usb-iap-tool's standard output for a whole run on the simulated bus: the
// loader's lines, a switch to the bootloader and an upgrade (discovery's
// lines, "IAP status" on every engine step), then the UI thread's event
// lines. The bytes are those of tool_stdout.txt, whatever way the lines
// travel to standard output.
#include <gtest/gtest.h>

#include <string>

#include "package/package_loader.h"
#include "support/sim_rig.h"
#include "support/test_packages.h"
#include "ui/ui_thread.h"
#include "upgrade/to_boot_procedure.h"
#include "upgrade/upgrade_procedure.h"

namespace iap {
namespace {

TEST(ToolStandardOutput, ASwitchAndAnUpgradeWriteTheSameBytesAsEver) {
    test::TempDir dir;
    Package package = test::testPackage();
    package.firmware = test::testFirmware(200, 256);
    package.deviceIds = {{0x01, 0x5679, 0x1234}, {0x01, 0x5678, 0x1234}};
    package.settings = {3, 1000, 0, 1000, 1000};
    test::Rig rig;
    rig.state.executablePath = dir / "tool";
    test::writeBytes(rig.state.executablePath, test::withPackage(test::fakeExecutable(3000), package));
    auto device = rig.attach(false);
    DisplayState display;

    ::testing::internal::CaptureStdout();
    ASSERT_TRUE(LoadPackage(rig.state, [](DecodedImage&& image) {
        return std::make_shared<ITexture>(1, float(image.width), float(image.height));
    }));
    ASSERT_TRUE(ToBootProcess(rig.ctx).has_value());
    ASSERT_TRUE(test::waitFor([&] { return device->mode() == sim::Mode::Bootloader; }, std::chrono::seconds(10)));
    EXPECT_EQ(IAPProcess(rig.ctx).text, "PASS");
    while (rig.events.pending() > 0) UIThreadEventHandler(rig.events, display);
    std::string out = ::testing::internal::GetCapturedStdout();

    const std::string path = '"' + rig.state.executablePath.string() + '"';
    ASSERT_NE(out.find(path), std::string::npos);
    out.replace(out.find(path), path.size(), "\"TOOL\"");
    const std::vector<uint8_t> expected = test::readBytes(IAP_TOOL_STDOUT);
    EXPECT_EQ(out, std::string(expected.begin(), expected.end()));
}

}  // namespace
}  // namespace iap
