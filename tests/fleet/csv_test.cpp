// The CSV reader, one table: plain and quoted fields, CR LF and LF, quoted
// line breaks and doubled quotes, torn tails, and bad quoting.
#include <gtest/gtest.h>

#include "fleet/csv.h"

namespace iap::fleet {
namespace {

TEST(Csv, ReadsOneRecordAndSaysWhatIsTornOrMalformed) {
    using S = CsvStatus;
    const struct {
        std::string in;
        S status;
        std::vector<std::string> fields;
        size_t consumed;
    } cases[] = {
        {"a,b,c\r\nnext", S::Record, {"a", "b", "c"}, 7},
        {"a,,\n", S::Record, {"a", "", ""}, 4},
        {"\r\n", S::Record, {""}, 2},
        {"\"x,y\",\"say \"\"hi\"\"\"\r\n", S::Record, {"x,y", "say \"hi\""}, 20},
        {"\"two\r\nlines\",z\r\n", S::Record, {"two\r\nlines", "z"}, 16},
        {"\"\",a\n", S::Record, {"", "a"}, 5},
        {"a\rb,c\n", S::Record, {"a\rb", "c"}, 6},  // a lone CR is text
        {"", S::Incomplete, {}, 0},
        {"a,b", S::Incomplete, {}, 0},
        {"a,b\r", S::Incomplete, {}, 0},
        {"\"open\r\nquote", S::Incomplete, {}, 0},
        {"\"ends in a quote\"", S::Incomplete, {}, 0},
        {"\"doubled \"\"", S::Incomplete, {}, 0},
        {"ab\"c,d\r\n", S::Malformed, {"ab\"c", "d"}, 8},
        {"\"ab\"c,d\n", S::Malformed, {"abc", "d"}, 8},
        {"\"ab\" \r\nx", S::Malformed, {"ab "}, 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        const CsvRead r = readCsvRecord(c.in);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.consumed, c.consumed);
        if (c.status != S::Incomplete) {
            EXPECT_EQ(r.fields, c.fields);
        }
    }
    EXPECT_EQ(csvField("a\"b,c"), "\"a\"\"b,c\"");
    EXPECT_EQ(csvField("plain"), "plain");
}

}  // namespace
}  // namespace iap::fleet
