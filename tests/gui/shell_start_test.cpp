// The shell's early ends on a platform that the test controls: a second copy,
// a window that cannot be opened, and a standard exception reaching the top.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/logging.h"
#include "app/shell.h"
#include "app/single_instance.h"
#include "sim/sim_bus.h"

namespace iap {
namespace {

struct Calls {
    int registered = 0;
    int unregistered = 0;
    int windows = 0;
};

class FakePlatform final : public Platform {
public:
    enum class Window { Throws, Fails };
    FakePlatform(Calls& calls, Window window) : calls_(calls), window_(window) {}
    bool registerClass() override {
        ++calls_.registered;
        return true;
    }
    bool createWindow(const WindowSpec& spec) override {
        ++calls_.windows;
        EXPECT_STREQ(spec.title, "USB IAP tool");
        EXPECT_EQ(spec.clientWidth, 600);
        EXPECT_EQ(spec.clientHeight, 400);
        if (window_ == Window::Throws) throw std::runtime_error("no window today");
        return false;
    }
    bool makeContextCurrent() override { return false; }
    bool initImGui() override { return false; }
    void newImGuiFrame() override {}
    void shutdownImGui() override {}
    bool pumpMessages() override { return false; }
    void swapBuffers() override {}
    uint32_t clientWidth() const override { return 0; }
    uint32_t clientHeight() const override { return 0; }
    void destroyWindow() override {}
    void unregisterClass() override { ++calls_.unregistered; }

private:
    Calls& calls_;
    Window window_;
};

class ShellStart : public ::testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() / ("iap-shell-" + std::to_string(::getpid()));
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir / "run");
        old = std::filesystem::current_path();
        std::filesystem::current_path(dir);
        setenv("XDG_RUNTIME_DIR", (dir / "run").c_str(), 1);
    }
    void TearDown() override {
        closeLoggers();
        std::filesystem::current_path(old);
        std::filesystem::remove_all(dir);
    }
    std::vector<std::string> logMessages() {
        closeLoggers();
        std::ifstream in(dir / "basic-log.txt");
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            size_t at = line.find("] [info] ");
            lines.push_back(at == std::string::npos ? line : line.substr(at + 9));
        }
        return lines;
    }
    int run(FakePlatform::Window window) {
        char name[] = "usb-iap-tool";
        char* argv[] = {name, nullptr};
        return WinMain(1, argv, bus, std::make_unique<FakePlatform>(calls, window));
    }

    std::filesystem::path dir, old;
    sim::SimBus bus;
    Calls calls;
};

TEST_F(ShellStart, ASecondCopyWritesThreeLinesAndEndsWithZero) {
    ASSERT_EQ(acquireInstanceLock("USB IAP tool"), InstanceLock::Acquired);  // the first copy
    EXPECT_EQ(run(FakePlatform::Window::Fails), 0);
    EXPECT_EQ(logMessages(),
              (std::vector<std::string>{"WinMain initializing...", "Log system OK", "CreateMutex OK"}));
    EXPECT_EQ(calls.registered, 0);
}

TEST_F(ShellStart, AWindowThatCannotBeOpenedIsAFailureAndReleasesTheClass) {
    EXPECT_EQ(run(FakePlatform::Window::Fails), 1);
    EXPECT_EQ(logMessages(), (std::vector<std::string>{"WinMain initializing...", "Log system OK",
                                                       "CreateMutex OK", "GetLastError OK",
                                                       "MyRegisterClass OK"}));
    EXPECT_EQ(calls.unregistered, 1);
}

TEST_F(ShellStart, AStandardExceptionIsLoggedAndEndsTheProcessWithAFailureCode) {
    EXPECT_EQ(run(FakePlatform::Window::Throws), 1);
    std::vector<std::string> lines = logMessages();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Main exception no window today");
    EXPECT_EQ(calls.windows, 1);
}

}  // namespace
}  // namespace iap
