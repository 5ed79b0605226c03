// The record follower on real files: an older header mapped by its own
// names, a torn line waited for, bad lines shipped raw, stable IDs, and a
// record that shrank or changed its header started over as a new generation.
#include <gtest/gtest.h>

#include <fstream>

#include "fleet/record_follower.h"
#include "logging/logging.h"
#include "support/test_packages.h"

namespace iap::fleet {
namespace {

void append(const std::filesystem::path& file, const std::string& text, bool truncate = false) {
    std::ofstream(file, std::ios::binary | (truncate ? std::ios::trunc : std::ios::app)) << text;
}

TEST(RecordFollower, MapsByItsHeaderWaitsForTornLinesAndStartsOver) {
    test::TempDir dir;
    const auto file = dir / "upgrade-record.csv";
    append(file, "start,outcome\r\nt1,passed\r\nt2,fai");  // an older header, a torn last line
    RecordFollower f(file, "site", "st1");
    std::vector<AttemptLine> lines = f.read(0, 10);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].columns, (std::map<std::string, std::string>{{"start", "t1"}, {"outcome", "passed"}}));
    EXPECT_TRUE(lines[0].first);
    EXPECT_EQ(lines[0].offset, 15u);
    EXPECT_EQ(lines[0].end, 26u);
    const std::string gen = f.gen(), id = lines[0].id;
    EXPECT_EQ(id, stableLineId("st1", pathText(file), 15, "t1,passed\r\n"));
    EXPECT_NE(id, stableLineId("st2", pathText(file), 15, "t1,passed\r\n"));

    append(file, "led\r\n\"bad\"x,y\r\nz,\"open\r\nw,passed\r\n");
    lines = f.read(26, 10);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].columns.at("outcome"), "failed");
    EXPECT_TRUE(lines[1].malformed);
    EXPECT_EQ(lines[1].raw, "\"bad\"x,y\r\n");
    EXPECT_TRUE(lines[2].malformed);  // an open quote: cut at its line break
    EXPECT_EQ(lines[2].raw, "z,\"open\r\n");
    EXPECT_EQ(lines[3].columns.at("start"), "w");
    EXPECT_EQ(f.countLineEnds(f.headerEnd(), f.size()), 5u);

    // Another follower (a restarted shipper) gives the same IDs and resumes the generation.
    RecordFollower again(file, "site", "st1");
    again.resume(f.position(26));
    EXPECT_EQ(again.read(0, 1).at(0).id, id);
    EXPECT_EQ(again.gen(), gen);
    EXPECT_FALSE(again.restarted());

    for (const std::string& text : {std::string("start,outcome\r\nt9,passed\r\n"),
                                    std::string("start,outcome,attempt_id\r\nt9,passed,A-1\r\nlonger,line,x\r\n")}) {
        SCOPED_TRACE(text);
        const std::string before = f.gen();
        append(file, text, true);
        lines = f.read(lines.empty() ? 0 : lines.back().end, 10);
        EXPECT_TRUE(f.restarted());
        EXPECT_FALSE(f.restarted());  // told once
        EXPECT_NE(f.gen(), before);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0].columns.at("start"), "t9");
    }
    EXPECT_EQ(lines[0].id, "A-1");  // the attempt_id column when there is one
}

// A record begun by an older tool keeps its header; the lines a newer tool
// appends carry the columns added since, and must not be taken as malformed.
TEST(RecordFollower, LinesUnderAnOlderToolsHeaderCarryTheLaterColumns) {
    test::TempDir dir;
    const auto file = dir / "upgrade-record.csv";
    std::string header, line;
    for (size_t i = 0; i < std::size(kUpgradeRecordColumns); ++i) {
        if (std::string_view(kUpgradeRecordColumns[i]) == "attempt_id") break;
        if (i) header += ',', line += ',';
        header.append(kUpgradeRecordColumns[i]);
        line.append("f").append(std::to_string(i));
    }
    append(file, header + "\r\n" + line + "\r\n" + line + ",A-7,KEY\r\n" + line + ",A-8,KEY,more\r\n" +
                     line.substr(0, line.rfind(',')) + "\r\n");
    const std::vector<AttemptLine> lines = RecordFollower(file, "site", "st1").read(0, 10);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_FALSE(lines[0].malformed);
    EXPECT_FALSE(lines[0].columns.contains("attempt_id"));
    ASSERT_FALSE(lines[1].malformed);
    EXPECT_EQ(lines[1].id, "A-7");
    EXPECT_EQ(lines[1].columns.at("signer"), "KEY");
    EXPECT_EQ(lines[1].columns.at("tool_version"), "f17");
    EXPECT_TRUE(lines[2].malformed);  // more fields than the record has columns
    EXPECT_TRUE(lines[3].malformed);  // fewer than its header
}

}  // namespace
}  // namespace iap::fleet
