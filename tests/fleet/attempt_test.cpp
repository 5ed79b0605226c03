// The attempt message: a line written and read back as it was, and each kind
// of bad message rejected with its reason.
#include <gtest/gtest.h>

#include "fleet/attempt.h"
#include "fleet/topics.h"

namespace iap::fleet {
namespace {

TEST(AttemptMessage, RoundTripsAndRejectsWithAReason) {
    AttemptLine line{"s1", "st1", "/r/upgrade-record.csv", "g1", 15, 40, true, "id-1"};
    line.columns = {{"serial", "SN,\"7\""}, {"outcome", "passed"}};
    const std::string topic = stationTopic("s1", "st1", "attempt");
    const auto back = std::get<AttemptLine>(readAttemptMessage(topic, attemptMessage(line)));
    EXPECT_EQ(back.columns, line.columns);
    EXPECT_EQ(back.offset, 15u);
    EXPECT_EQ(back.end, 40u);
    EXPECT_TRUE(back.first);
    AttemptLine bad = line;
    bad.malformed = true;
    bad.raw = "\"x\"y\xFF\r\n";  // not UTF-8: replaced, not refused
    EXPECT_TRUE(std::get<AttemptLine>(readAttemptMessage(topic, attemptMessage(bad))).malformed);

    const std::string ok = R"("site":"s1","station":"st1","record":"r","gen":"g","offset":1,"end":2)";
    const struct {
        std::string topic, payload, reason;
    } rejects[] = {
        {topic, "{\"id\":", "not JSON"},
        {topic, "[1]", "not an object"},
        {topic, "{" + ok + "}", "no id"},
        {topic, "{\"id\":7," + ok + "}", "wrong type: id"},
        {topic, R"({"id":"a","site":"s1","station":"st1","record":"r","gen":"g","offset":-1,"end":2})", "wrong type: offset"},
        {topic, R"({"id":"a","site":"s1","station":"st1","record":"r","gen":"g","offset":2,"end":2})", "wrong type: end"},
        {topic, "{\"id\":\"a\",\"serial\":5," + ok + "}", "wrong type: serial"},
        {topic, "{\"id\":\"a\",\"malformed\":true," + ok + "}", "wrong type: raw"},
        {stationTopic("s1", "st2", "attempt"), "{\"id\":\"a\"," + ok + "}", "topic mismatch"},
        {"iap/v1/s1/attempt", "{}", "bad topic"},
        {topic, std::string(kMaxAttemptPayload + 1, ' '), "too large"},
    };
    for (const auto& r : rejects) {
        const auto got = readAttemptMessage(r.topic, r.payload);
        ASSERT_TRUE(std::holds_alternative<Rejected>(got)) << r.reason;
        EXPECT_EQ(std::get<Rejected>(got).reason, r.reason);
    }
    EXPECT_EQ(portLevel("1-4/#+%"), "1-4%2F%23%2B%25");
    EXPECT_EQ(parseStationTopic("iap/v1/a/b/port/x")->leaf, "port/x");
}

}  // namespace
}  // namespace iap::fleet
