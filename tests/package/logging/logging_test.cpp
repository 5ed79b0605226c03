// The two file loggers: line layout, appending across runs, rotation.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <thread>

#include "app/logging.h"
#include "package/test_packages.h"

namespace iap {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> crlfLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2) {
        lines.push_back(text.substr(start, at - start));
    }
    EXPECT_EQ(start, text.size()) << "text after the last CR LF";
    return lines;
}

const std::regex kLine(R"(\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3}\] \[(basic_logg|basic_logger)\] \[info\] (.*))");

class LoggingTest : public ::testing::Test {
protected:
    LoggingTest() : cwd(dir.path()) {}
    ~LoggingTest() override { setLogFileOptions({}); }
    test::TempDir dir;
    test::ScopedCwd cwd;
};

TEST_F(LoggingTest, LinesCarryTimeLoggerNameInfoAndEndInCrLf) {
    createShellLogger();
    basic_logg->info("Log system OK");
    createMainLogger();
    basic_logger->info("UIThreadEventHandler e.eventType.{}", 3u);
    basic_logger->info("pos: ({:.2f}, {:.2f}), size: ({:.2f}, {:.2f})", 380.0f, 290.0f, 111.0f, 38.0f);
    EXPECT_EQ(basic_logg->level(), spdlog::level::trace);
    EXPECT_EQ(spdlog::get("basic_logger"), basic_logger);
    closeLoggers();

    const std::vector<std::string> lines = crlfLines(test::readText("basic-log.txt"));
    ASSERT_EQ(lines.size(), 3u);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, kLine)) << lines[0];
    EXPECT_EQ(m[1], "basic_logg");
    EXPECT_EQ(m[2], "Log system OK");
    ASSERT_TRUE(std::regex_match(lines[1], m, kLine)) << lines[1];
    EXPECT_EQ(m[1], "basic_logger");
    EXPECT_EQ(m[2], "UIThreadEventHandler e.eventType.3");
    ASSERT_TRUE(std::regex_match(lines[2], m, kLine)) << lines[2];
    EXPECT_EQ(m[2], "pos: (380.00, 290.00), size: (111.00, 38.00)");
}

TEST_F(LoggingTest, ASecondRunAppendsToTheFirst) {
    for (const char* run : {"first run", "second run"}) {
        createShellLogger();
        createMainLogger();
        basic_logg->info(run);
        basic_logger->info("{} done", run);
        closeLoggers();
    }
    const std::vector<std::string> lines = crlfLines(test::readText("basic-log.txt"));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NE(lines[0].find("] first run"), std::string::npos);
    EXPECT_NE(lines[1].find("] first run done"), std::string::npos);
    EXPECT_NE(lines[2].find("] second run"), std::string::npos);
    EXPECT_NE(lines[3].find("] second run done"), std::string::npos);
}

TEST_F(LoggingTest, BeforeCreationLinesAreDiscardedQuietly) {
    ASSERT_TRUE(basic_logg);
    ASSERT_TRUE(basic_logger);
    basic_logg->info("nobody reads this");
    basic_logger->info("nor this {}", 1);
    closeLoggers();
    EXPECT_FALSE(fs::exists("basic-log.txt"));
}

TEST_F(LoggingTest, RotationBoundsTheLogAndBothLoggersShareIt) {
    LogFileOptions options;
    options.maxFileSize = 4096;
    options.maxFiles = 2;
    setLogFileOptions(options);
    createShellLogger();
    createMainLogger();
    // Both loggers write from their own threads; one shared sink rotates.
    constexpr int kLines = 2000;
    std::thread shell([] {
        for (int i = 0; i < kLines; ++i) basic_logg->info("frame {} OK", i);
    });
    std::thread main([] {
        for (int i = 0; i < kLines; ++i) basic_logger->info("main_gui {} OK", i);
    });
    shell.join();
    main.join();
    basic_logger->info("last line");
    closeLoggers();

    EXPECT_TRUE(fs::exists("basic-log.txt"));
    EXPECT_TRUE(fs::exists("basic-log.1.txt"));
    EXPECT_TRUE(fs::exists("basic-log.2.txt"));
    EXPECT_FALSE(fs::exists("basic-log.3.txt"));
    for (const char* name : {"basic-log.txt", "basic-log.1.txt", "basic-log.2.txt"}) {
        EXPECT_LE(fs::file_size(name), 4096u) << name;
        for (const std::string& line : crlfLines(test::readText(name))) {
            EXPECT_TRUE(std::regex_match(line, kLine)) << name << ": " << line;
        }
    }
    const std::vector<std::string> newest = crlfLines(test::readText("basic-log.txt"));
    ASSERT_FALSE(newest.empty());
    EXPECT_NE(newest.back().find("] last line"), std::string::npos);
}

TEST_F(LoggingTest, AnUnopenableFileThrowsTheLibraryError) {
    fs::create_directory("basic-log.txt");  // a folder where the file should be
    try {
        createShellLogger();
        FAIL() << "no error";
    } catch (const spdlog::spdlog_ex& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Failed opening file", 0), 0u) << e.what();
    }
    basic_logg->info("still usable");
}

}  // namespace
}  // namespace iap
