// The two file loggers: line layout, appending across runs, rotation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <regex>
#include <thread>

#include "logging/logging.h"
#include "support/test_packages.h"

namespace iap {
namespace {

namespace fs = std::filesystem;

const std::regex kLine(R"(\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3}\] \[(basic_logg|basic_logger)\] \[info\] (.*))");

// The lines of a log file, each of which must match kLine and end in CR LF
// (kept in `keep`, which the matches point into).
std::vector<std::smatch> logLines(const fs::path& file, std::deque<std::string>& keep) {
    const std::vector<uint8_t> bytes = test::readBytes(file);
    const std::string text(bytes.begin(), bytes.end());
    const size_t first = keep.size();
    size_t start = 0;
    for (size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2) {
        keep.push_back(text.substr(start, at - start));
    }
    EXPECT_EQ(start, text.size()) << "text after the last CR LF";
    std::vector<std::smatch> lines(keep.size() - first);
    for (size_t i = 0; i < lines.size(); ++i) EXPECT_TRUE(std::regex_match(keep[first + i], lines[i], kLine)) << keep[first + i];
    return lines;
}

// Each test runs in a fresh current directory, where the log is written.
class LoggingTest : public ::testing::Test {
protected:
    LoggingTest() : previous(fs::current_path()) { fs::current_path(dir.path()); }
    ~LoggingTest() override {
        setLogFileOptions({});
        fs::current_path(previous);
    }
    test::TempDir dir;
    fs::path previous;
    std::deque<std::string> text;
};

TEST_F(LoggingTest, LinesCarryTimeLoggerNameInfoAndEndInCrLfAndRunsAppend) {
    basic_logg->info("before any logger: discarded");
    for (const char* run : {"first", "second"}) {
        createShellLogger();
        basic_logg->info("Log system OK");
        createMainLogger();
        basic_logger->info("pos: ({:.2f}, {:.2f}), size: ({:.2f}, {:.2f}) {}", 380.0f, 290.0f, 111.0f, 38.0f, run);
        EXPECT_EQ(basic_logg->level(), spdlog::level::trace);
        EXPECT_EQ(spdlog::get("basic_logger"), basic_logger);
        closeLoggers();
    }
    const std::vector<std::smatch> lines = logLines("basic-log.txt", text);
    const char* const expected[][2] = {
        {"basic_logg", "Log system OK"}, {"basic_logger", "pos: (380.00, 290.00), size: (111.00, 38.00) first"},
        {"basic_logg", "Log system OK"}, {"basic_logger", "pos: (380.00, 290.00), size: (111.00, 38.00) second"}};
    ASSERT_EQ(lines.size(), 4u);
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i][1], expected[i][0]);
        EXPECT_EQ(lines[i][2], expected[i][1]);
    }
}

TEST_F(LoggingTest, RotationBoundsTheLogAndBothLoggersShareIt) {
    setLogFileOptions({"basic-log.txt", 4096, 2});
    createShellLogger();
    createMainLogger();
    // Both loggers write from their own threads; one shared sink rotates.
    std::thread shell([] {
        for (int i = 0; i < 2000; ++i) basic_logg->info("frame {} OK", i);
    });
    for (int i = 0; i < 2000; ++i) basic_logger->info("main_gui {} OK", i);
    shell.join();
    basic_logger->info("last line");
    closeLoggers();

    EXPECT_FALSE(fs::exists("basic-log.3.txt"));
    for (const char* name : {"basic-log.2.txt", "basic-log.1.txt", "basic-log.txt"}) {
        ASSERT_TRUE(fs::exists(name)) << name;
        EXPECT_LE(fs::file_size(name), 4096u) << name;
        EXPECT_FALSE(logLines(name, text).empty());
    }
    EXPECT_TRUE(text.back().ends_with("] last line")) << text.back();
}

// A rename that fails (here: the older files are folders that will not
// move) leaves the live file as it is, and the lines go on after it.
TEST_F(LoggingTest, RotationThatCannotRenameKeepsAppending) {
    for (const char* name : {"basic-log.1.txt", "basic-log.2.txt"}) {
        fs::create_directory(name);
        test::writeBytes(fs::path(name) / "keep", {1});
    }
    setLogFileOptions({"basic-log.txt", 2048, 2});
    createShellLogger();
    ::testing::internal::CaptureStderr();
    for (int i = 0; i < 200; ++i) basic_logg->info("line {} OK", i);
    closeLoggers();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("cannot rotate"), std::string::npos) << err;
    const std::vector<std::smatch> lines = logLines("basic-log.txt", text);
    ASSERT_EQ(lines.size(), 200u);  // nothing was truncated away
    for (int i = 0; i < 200; ++i) EXPECT_EQ(lines[i][2], "line " + std::to_string(i) + " OK");
}

// Where the working folder cannot take the log, it goes to the per-user state
// folder, and standard error says so; where neither can, the tool still runs
// and logs nowhere. (A folder named like the file stands for a folder the
// user may not write: it refuses even a privileged user.)
TEST_F(LoggingTest, AnUnwritableFolderMovesTheLogToTheStateFolderOrNowhere) {
    fs::create_directory("basic-log.txt");
    const fs::path state = dir.path() / "state";
    const char* saved = std::getenv("XDG_STATE_HOME");
    const std::string savedValue = saved ? saved : "";
    for (bool stateWritable : {true, false}) {
        SCOPED_TRACE(stateWritable);
        if (stateWritable) {
            setenv("XDG_STATE_HOME", state.c_str(), 1);
        } else {
            test::writeBytes(dir.path() / "plain-file", {1});  // a folder cannot be made under it
            setenv("XDG_STATE_HOME", (dir.path() / "plain-file").c_str(), 1);
        }
        ::testing::internal::CaptureStderr();
        createShellLogger();
        createMainLogger();
        basic_logg->info("Log system OK");
        basic_logger->info("main_init initializing...");
        const fs::path folder = logFolder();
        closeLoggers();
        const std::string err = ::testing::internal::GetCapturedStderr();
        if (stateWritable) {
            EXPECT_EQ(folder, state / "usb-iap-tool");
            EXPECT_NE(err.find((state / "usb-iap-tool" / "basic-log.txt").string()), std::string::npos) << err;
            EXPECT_EQ(logLines(folder / "basic-log.txt", text).size(), 2u);
        } else {
            EXPECT_TRUE(folder.empty());
            EXPECT_NE(err.find("running without a log file"), std::string::npos) << err;
        }
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;  // one line, once per run
    }
    if (saved) setenv("XDG_STATE_HOME", savedValue.c_str(), 1); else unsetenv("XDG_STATE_HOME");
}

}  // namespace
}  // namespace iap
