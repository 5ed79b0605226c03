// The upgrade record: the line of each outcome, CSV quoting, the local time
// with its offset, whole lines under concurrent writers, and the line the
// window's task writes after a real attempt on the simulated bus.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bytes/hex.h"
#include "package/tool_version.h"
#include "support/sim_rig.h"
#include "support/test_packages.h"
#include "upgrade/upgrade_record.h"
#include "upgrade/upgrade_tasks.h"

namespace iap {
namespace {

using namespace std::chrono_literals;

// The fields of one CSV line (RFC 4180 quoting), without its CR LF.
std::vector<std::string> csvFields(const std::string& line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') fields.back() += '"', ++i;
            else if (c == '"') quoted = false;
            else fields.back() += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

std::vector<std::string> fileLines(const std::filesystem::path& file) {
    const std::vector<uint8_t> bytes = test::readBytes(file);
    const std::string text(bytes.begin(), bytes.end());
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2) {
        lines.push_back(text.substr(start, at - start));
    }
    EXPECT_EQ(start, text.size()) << "a line without its CR LF";
    return lines;
}

struct TimeZone {
    explicit TimeZone(const char* tz) {
        if (const char* old = std::getenv("TZ")) saved = old, had = true;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~TimeZone() {
        if (had) setenv("TZ", saved.c_str(), 1); else unsetenv("TZ");
        tzset();
    }
    std::string saved;
    bool had = false;
};

TEST(UpgradeRecord, EachOutcomeAsOneLineWithTheDeviceAndTheFirmware) {
    TimeZone tz("XXX-2");  // two hours east of UTC
    const std::vector<uint8_t> firmware = test::testFirmware(1000);
    const ImageHeaderView h = readImageHeader(firmware);
    const std::string version(toolVersion());
    AttemptResult passed{.outcome = Outcome::Passed, .text = "PASS", .deviceStatus = 0};
    passed.device = HidDeviceInfo{"/dev/hidraw3", 0x1234, 0x5679, 0xFF00, 0x0102, "SN,\"7\"", "1-4.2"};
    passed.start = std::chrono::system_clock::from_time_t(1765200185) + 123ms;  // 2025-12-08 13:23:05.123 UTC
    passed.duration = 2345ms;
    AttemptResult error = passed;
    error.outcome = Outcome::DeviceError;
    error.deviceStatus = 0xE2;
    error.failure = Failure::DeviceStatus;
    error.text = "Upgrade error, please try again.\nError code:0xE2\nCRC error";
    AttemptResult none{.outcome = Outcome::OpenFailed, .text = "Open Failed!", .failure = Failure::NotFound};
    none.start = passed.start;

    const struct {
        std::string_view procedure;
        const AttemptResult& result;
        bool interrupted;
        std::string_view port;
        std::string_view signer;
        std::vector<std::string> fields;
    } cases[] = {
        {"upgrade", passed, false, "", "0f1e2d3c4b5a69788796a5b4c3d2e1f0",
         {"2025-12-08T15:23:05.123+02:00", "2345", "upgrade", "passed", "PASS", "0x00", "1234", "5679", "0102",
          "SN,\"7\"", "/dev/hidraw3", h.swVersion, "1000", "0x" + hexText(h.payloadCrc, 4), "my tool", "", "1-4.2", version}},
        {"upgrade", error, false, "", "",
         {"2025-12-08T15:23:05.123+02:00", "2345", "upgrade", "device-error",
          "Upgrade error, please try again. / Error code:0xE2 / CRC error", "0xE2", "1234", "5679", "0102",
          "SN,\"7\"", "/dev/hidraw3", h.swVersion, "1000", "0x" + hexText(h.payloadCrc, 4), "my tool",
          "device-status", "1-4.2", version}},
        {"to-boot", none, false, "1-4.7", "",
         {"2025-12-08T15:23:05.123+02:00", "0", "to-boot", "open-failed", "Open Failed!", "", "", "", "", "", "",
          h.swVersion, "1000", "0x" + hexText(h.payloadCrc, 4), "my tool", "not-found", "1-4.7", version}},
        {"upgrade", passed, true, "", "",
         {"2025-12-08T15:23:05.123+02:00", "2345", "upgrade", "interrupted", "PASS", "0x00", "1234", "5679",
          "0102", "SN,\"7\"", "/dev/hidraw3", h.swVersion, "1000", "0x" + hexText(h.payloadCrc, 4), "my tool",
          "interrupted", "1-4.2", version}},
    };
    // The columns of older files first, then failure, port, tool_version, attempt_id and signer.
    EXPECT_EQ(recordHeader(), "start,duration_ms,procedure,outcome,result,status,vid,pid,bcd_device,serial,path,"
                              "sw_version,payload_length,payload_crc,tool,failure,port,tool_version,attempt_id,"
                              "signer\r\n");
    std::set<std::string> ids;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fields[3]);
        const auto before = std::chrono::system_clock::now();
        const std::string line =
            recordLine({c.procedure, c.result, firmware, "my tool", c.interrupted, c.port}, c.signer);
        const auto after = std::chrono::system_clock::now();
        ASSERT_TRUE(line.ends_with("\r\n"));
        EXPECT_EQ(line.find('\n'), line.size() - 1);  // one line, whatever the text
        std::vector<std::string> fields = csvFields(line.substr(0, line.size() - 2));
        ASSERT_EQ(fields.size(), 20u);
        EXPECT_EQ(fields.back(), c.signer);  // the fingerprint, or empty for an unsigned package
        fields.pop_back();
        // A version 7 UUID of the moment the line was made, new for each line.
        const std::string id = fields.back();
        fields.pop_back();
        EXPECT_EQ(fields, c.fields);
        ASSERT_TRUE(std::regex_match(id, std::regex("[0-9a-f]{8}-[0-9a-f]{4}-7[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}"))) << id;
        const auto ms = std::stoll(id.substr(0, 8) + id.substr(9, 4), nullptr, 16);
        EXPECT_GE(ms, std::chrono::duration_cast<std::chrono::milliseconds>(before.time_since_epoch()).count());
        EXPECT_LE(ms, std::chrono::duration_cast<std::chrono::milliseconds>(after.time_since_epoch()).count());
        EXPECT_TRUE(ids.insert(id).second);
    }
    TimeZone west("XXX+5:30");
    EXPECT_EQ(isoLocalTime(passed.start), "2025-12-08T07:53:05.123-05:30");
}

TEST(UpgradeRecord, ConcurrentWritersLeaveOneHeaderAndWholeLines) {
    test::TempDir dir;
    UpgradeRecord record(dir / "upgrade-record.csv");
    record.setSigner("0f1e2d3c4b5a69788796a5b4c3d2e1f0");  // every line's signer column
    const std::vector<uint8_t> firmware = test::testFirmware(300);
    std::vector<std::thread> writers;
    for (int t = 0; t < 8; ++t) {
        writers.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                AttemptResult r{.outcome = Outcome::Passed, .text = "PASS"};
                r.device.path = "/dev/hidraw" + std::to_string(t);
                r.duration = std::chrono::milliseconds(i);
                EXPECT_TRUE(record.append({"upgrade", r, firmware, "tool"}));
            }
        });
    }
    for (auto& w : writers) w.join();
    const std::vector<std::string> lines = fileLines(dir / "upgrade-record.csv");
    ASSERT_EQ(lines.size(), 401u);
    EXPECT_EQ(lines[0] + "\r\n", recordHeader());
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::vector<std::string> fields = csvFields(lines[i]);
        ASSERT_EQ(fields.size(), 20u) << lines[i];
        EXPECT_EQ(fields.back(), "0f1e2d3c4b5a69788796a5b4c3d2e1f0");
    }

    // A record that cannot be written says so once and never throws.
    UpgradeRecord nowhere(dir / "no-such-folder" / "upgrade-record.csv");
    ::testing::internal::CaptureStderr();
    AttemptResult r;
    EXPECT_FALSE(nowhere.append({"upgrade", r, firmware, "tool"}));
    EXPECT_FALSE(nowhere.append({"upgrade", r, firmware, "tool"}));
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

TEST(UpgradeRecord, TheUpgradeTaskRecordsItsAttempt) {
    test::TempDir dir;
    test::Rig rig;
    UpgradeRecord record(dir / "upgrade-record.csv");
    rig.ctx.record = &record;
    rig.state.executablePath = dir / "product-tool";
    rig.attach();
    ::testing::internal::CaptureStdout();
    IAPThread(rig.ctx);
    ::testing::internal::GetCapturedStdout();
    const std::vector<std::string> lines = fileLines(dir / "upgrade-record.csv");
    ASSERT_EQ(lines.size(), 2u);
    const std::vector<std::string> f = csvFields(lines[1]);
    ASSERT_EQ(f.size(), 20u);
    EXPECT_EQ(f[19], "") << "an unsigned package";
    EXPECT_EQ(f[2] + "|" + f[3] + "|" + f[4] + "|" + f[5], "upgrade|passed|PASS|0x00");
    EXPECT_EQ(f[6] + ":" + f[7] + ":" + f[8] + ":" + f[9], "1234:5679:0100:SIM0001");
    EXPECT_EQ(f[12], "1000");
    EXPECT_EQ(f[14], "product-tool");
}

}  // namespace
}  // namespace iap
