// The outputs of usb-iap-flash: JSON lines that jq reads back to the same
// bytes, whatever a text holds; the board's rows, bar and tally.
#include <gtest/gtest.h>

#include "flash/outputs.h"
#include "support/flash_rig.h"

namespace iap::flash {
namespace {

using Lines = std::vector<std::string>;

std::string base64(const std::string& bytes) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t v = static_cast<uint8_t>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= static_cast<uint8_t>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) v |= static_cast<uint8_t>(bytes[i + 2]);
        out += digits[v >> 18];
        out += digits[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? digits[(v >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? digits[v & 63] : '=';
    }
    return out;
}

TEST(JsonLines, EveryKindParsesAndTextsComeBackByteForByte) {
    test::FlashRig rig;
    const std::string texts[] = {
        "Upgrade error, please try again.\nError code:0xE2\nCRC error",
        "quote \" backslash \\ tab \t cr \r",
        std::string("control \x01\x1f del \x7f", 17),
        "Gr\xC3\xBC\xC3\x9F" "e \xE2\x9C\x93",
    };
    for (const std::string& text : texts) {
        for (EventKind kind : {EventKind::Found, EventKind::State, EventKind::Stage, EventKind::Progress,
                               EventKind::Result, EventKind::Summary}) {
            Event e;
            e.kind = kind;
            e.port = "1-4.2";
            e.text = text;
            e.procedure = "upgrade";
            e.device.path = text;
            e.device.serialNumber = text;
            e.bytes = 500;
            e.total = 1000;
            rig.out << jsonLine(e) << "\n";
        }
    }
    rig.out.flush();
    Lines expected;
    for (const std::string& text : texts) {
        expected.push_back("found " + base64(text) + " " + base64(text));
        expected.push_back("state " + base64(text));
        expected.push_back("stage " + base64(text));
        expected.push_back("progress 50");
        expected.push_back("result " + base64(text) + " " + base64(text));
        expected.push_back("summary");
    }
    EXPECT_EQ(rig.jq(R"jq(if .event=="found" then "found \(.path|@base64) \(.serial|@base64)"
                        elif .event=="state" then "state \(.state|@base64)"
                        elif .event=="stage" then "stage \(.text|@base64)"
                        elif .event=="progress" then "progress \(.percent)"
                        elif .event=="result" then "result \(.text|@base64) \(.path|@base64)"
                        else .event end)jq"),
              expected);
}

// The schema of the README: each kind's fields in their order, with the
// JSON type of each, and the values that are formatted (percent to one
// decimal, the rate whole, the status as "0xE2", null for what is absent).
TEST(JsonLines, EachKindKeepsItsFieldsInOrderAndTheirTypes) {
    test::FlashRig rig;
    const auto make = [](EventKind kind, auto change) {
        Event e;
        e.kind = kind;
        e.port = "1-4.2";
        change(e);
        return e;
    };
    const struct {
        Event event;
        std::string fields;  // name:type, in order
        std::string values;  // percent bytes_per_second status failure port problem
    } cases[] = {
        {make(EventKind::Found, [](Event& e) { e.ready = false, e.problem = {"denied", true}; }),
         "event:string time:string port:string path:string vid:string pid:string bcd_device:string serial:string "
         "ready:boolean problem:string permission:boolean",
         "null null null null 1-4.2 denied"},
        {make(EventKind::State, [](Event&) {}), "event:string time:string port:string state:string",
         "null null null null 1-4.2 null"},
        {make(EventKind::Stage, [](Event&) {}), "event:string time:string port:string procedure:string text:string",
         "null null null null 1-4.2 null"},
        {make(EventKind::Progress, [](Event& e) { e.bytes = 1, e.total = 3, e.bytesPerSecond = 1234.7; }),
         "event:string time:string port:string procedure:string bytes:number total:number percent:number "
         "bytes_per_second:number",
         "33.3 1234 null null 1-4.2 null"},
        {make(EventKind::Result, [](Event& e) { e.status = 0x1E2, e.failure = "device-status", e.durationMs = 7; }),
         "event:string time:string port:string procedure:string outcome:string failure:string text:string "
         "final:boolean status:string bytes:number total:number duration_ms:number path:string vid:string "
         "pid:string bcd_device:string serial:string problem:null permission:boolean",
         "null null 0xE2 device-status 1-4.2 null"},
        {make(EventKind::Result, [](Event& e) { e.port.clear(); }),
         "event:string time:string port:null procedure:string outcome:string failure:null text:string "
         "final:boolean status:null bytes:number total:number duration_ms:number path:string vid:string "
         "pid:string bcd_device:string serial:string problem:null permission:boolean",
         "null null null null null null"},
        {make(EventKind::Warning, [](Event& e) { e.port.clear(); }), "event:string time:string port:null text:string",
         "null null null null null null"},
        {make(EventKind::Summary, [](Event&) {}),
         "event:string time:string passed:number failed:number exit_code:number", "null null null null null null"},
    };
    Lines fields, values;
    for (const auto& c : cases) {
        rig.out << jsonLine(c.event) << "\n";
        fields.push_back(c.fields);
        values.push_back(c.values);
    }
    rig.out.flush();
    EXPECT_EQ(rig.jq(R"jq([keys_unsorted[] as $k | "\($k):\(.[$k] | type)"] | join(" "))jq"), fields);
    EXPECT_EQ(rig.jq(R"jq("\(.percent) \(.bytes_per_second) \(.status) \(.failure) \(.port) \(.problem)")jq"), values);
}

TEST(Board, RowsInPortOrderWithBarRateAndTally) {
    BoardModel model;
    model.title = {"line", "my-product-tool", 144608, "V2.1.0"};
    const auto apply = [&](EventKind kind, const std::string& port, auto change) {
        Event e;
        e.kind = kind;
        e.port = port;
        change(e);
        applyToBoard(model, e);
    };
    apply(EventKind::State, "1-4.10", [](Event& e) { e.text = "waiting"; });
    apply(EventKind::State, "1-4.2", [](Event& e) { e.text = "upgrading"; });
    apply(EventKind::Progress, "1-4.2", [](Event& e) {
        e.bytes = 72304;
        e.total = 144608;
        e.bytesPerSecond = 51234;
    });
    apply(EventKind::Result, "1-4.3", [](Event& e) {  // a passed switch is no result of the row
        e.procedure = "to-boot";
        e.outcome = "passed";
        e.text = "PASS";
    });
    apply(EventKind::Result, "1-4.3", [](Event& e) {
        e.procedure = "upgrade";
        e.outcome = "device-error";
        e.text = "Upgrade error, please try again.\nError code:0xE2\nCRC error";
        e.final = true;
    });
    apply(EventKind::State, "1-4.3", [](Event& e) { e.text = "done"; });
    apply(EventKind::Result, "1-4.1", [](Event& e) {
        e.procedure = "upgrade";
        e.outcome = "passed";
        e.text = "PASS";
        e.final = true;
        e.bytes = e.total = 144608;
    });
    apply(EventKind::State, "1-4.1", [](Event& e) { e.text = "done"; });

    const Lines lines = renderBoard(model, 100);
    EXPECT_EQ(lines, (Lines{
        "usb-iap-flash line - my-product-tool - firmware 144608 bytes V2.1.0 - Ctrl-C stops",
        "PORT    STATE       PROGRESS                    RATE        LAST RESULT",
        "1-4.1   done        [####################] 100%             PASS",
        "1-4.2   upgrading   [##########----------]  50% 51.2 kB/s",
        "1-4.3   done                                                Upgrade error, please try again. / Erro",
        "1-4.10  waiting",
        "passed 1   failed 1   running 1",
    }));
    for (const std::string& line : renderBoard(model, 40)) EXPECT_LE(line.size(), 39u) << line;
    // Windows' chains by their numbers too, paths of devices whose port is unknown after them.
    const Lines keys = {"PCIROOT0_PCI1400-4.2", "PCIROOT0_PCI1400-4.10", "PCIROOT0_PCI1400-10.1",
                        "_SB.PCI0.XHC.RHUB-HS04.3", "\\\\?\\hid#vid_1234&pid_5679#7&1&0&0000#{4d1e55b2}"};
    for (size_t i = 0; i + 1 < keys.size(); ++i) {
        EXPECT_TRUE(portBefore(keys[i], keys[i + 1]) && !portBefore(keys[i + 1], keys[i])) << keys[i];
    }
}

}  // namespace
}  // namespace iap::flash
