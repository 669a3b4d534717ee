#include "cli/identify.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "serial/port_resolver.h"
#include "serial/virtual_serial_device.h"
#include "sim/lpc_board.h"
#include "sim/lpc_parts.h"

namespace korvel::cli {
namespace {

constexpr int kPort = 61;

std::string ReadBack(std::FILE* file) {
    std::string text;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;) {
        text.push_back(static_cast<char>(c));
    }
    std::fclose(file);
    return text;
}

TEST(IdentifyTest, PrintsWhatTheLoaderTellsAndLeavesTheBoardAsItWas) {
    const sim::LpcPart& part = *sim::FindLpcPart("LPC2138");
    struct Case {
        const char* what;
        std::set<sim::LpcFault> faults;
        bool json;
        int exitCode;
        std::string out;
    };
    const std::vector<Case> cases = {
        {"text",
         {},
         false,
         0,
         "Port:      COM61 (virtual)\nPart id:   196389 (0x0002FF25)\nChip:      LPC2138 (500k)\n"
         "Boot code: 2.12\n"},
        {"json",
         {},
         true,
         0,
         R"j({"port":"COM61","device":"virtual","chip":"LPC2138 (500k)","part_id":"196389",)j"
         R"j("part_id_hex":"0x0002FF25","boot_code":"2.12","result":0,"result_name":"Success",)j"
         R"j("message":""})j"
         "\n"},
        // A part no row lists: its id is still told; the chip and boot code
        // are not learned.
        {"unknown part",
         {sim::LpcFault::UnknownId},
         true,
         4,
         R"j({"port":"COM61","device":"virtual","chip":null,"part_id":"33685249",)j"
         R"j("part_id_hex":"0x0201FF01","boot_code":null,"result":4,)j"
         R"j("result_name":"ProgrammingError","message":"Unknown part id 33685249 (0x0201FF01)"})j"
         "\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::LpcBoard::Options options;
        options.faults = c.faults;
        options.flash.assign(part.flashBytes(), 0x5A);
        sim::LpcBoard board(part, options);
        PortResolver::instance().registerDevice(
            kPort, [&board] { return std::make_unique<VirtualSerialDevice>(board); });
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        ASSERT_TRUE(out && err);
        EXPECT_EQ(IdentifyBoard({"COM61", kPort, "virtual"}, 38400, {}, c.json, out, err),
                  c.exitCode);
        PortResolver::instance().unregisterDevice(kPort);
        EXPECT_EQ(ReadBack(out), c.out);
        const std::string errors = ReadBack(err);
        EXPECT_EQ(errors.empty(), c.exitCode == 0) << errors;
        // Only the identification was asked: the flash is as it was.
        EXPECT_EQ(board.flash(), options.flash);
        const std::vector<std::string> asked =
            c.exitCode == 0 ? std::vector<std::string>{"J", "K"} : std::vector<std::string>{"J"};
        EXPECT_EQ(board.commands(), asked);
        EXPECT_FALSE(board.started().has_value());
    }
}

}  // namespace
}  // namespace korvel::cli
