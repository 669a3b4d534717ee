#include "jobs/run_record_json.h"

#include <gtest/gtest.h>

namespace korvel {
namespace {

using namespace std::chrono;

TEST(RunRecordJsonTest, OneLineWithEveryFieldUnderItsName) {
    RunRecord record;
    record.port = "usb:0403:6001:A1";
    record.boardId = "SN-0042";
    record.device = "/dev/ttyUSB0";
    record.packagePath = "fw \"new\".pr2";
    record.packageSha256 = "ba7816bf";
    record.kind = 'F';
    record.entryName = "LPC2138";
    record.entryVersion = "1.00";
    record.chip = "LPC2138";
    record.partId = "196389";
    record.partIdHex = PartIdHex(196389);
    record.bootCode = "2.12";
    record.result = RunResult::ProgrammingError;
    record.status = "Erase";
    record.message = "Programming error";
    record.start = sys_days{2026y / December / 9} + 11h + 42min + 57s + 125ms;
    record.durationSeconds = 12.34567;
    record.verify = VerifyMode::Readback;
    record.imageSha256 = "5d41402a";
    record.serial = 4294967295u;
    EXPECT_EQ(
        RunRecordJson(record),
        R"({"port":"usb:0403:6001:A1","board_id":"SN-0042","device":"/dev/ttyUSB0",)"
        R"("package":"fw \"new\".pr2",)"
        R"("package_sha256":"ba7816bf","image_sha256":"5d41402a","kind":"F","name":"LPC2138","version":"1.00",)"
        R"("chip":"LPC2138","part_id":"196389","part_id_hex":"0x0002FF25","boot_code":"2.12",)"
        R"("result":4,"result_name":"ProgrammingError",)"
        R"("status":"Erase","message":"Programming error",)"
        R"("start":"2026-12-09T11:42:57.125Z","duration_s":12.346,"verify":"readback",)"
        R"("verified":false,"serial":4294967295,"serial_void":true})");
}

TEST(RunRecordJsonTest, WhatWasNotLearnedIsNullAndBadTextStillGivesALine) {
    RunRecord record;
    record.result = RunResult::PortNotOpened;
    record.entryName = "bad\xff\xfe";
    record.message = "line1\r\nline2";
    record.start = sys_days{2024y / February / 29} + 23h + 59min + 59s + 999ms;
    const std::string line = RunRecordJson(record);
    EXPECT_NE(
        line.find(
            R"("chip":null,"part_id":null,"part_id_hex":null,"boot_code":null,"result":1,"result_name":"PortNotOpened")"),
        std::string::npos)
        << line;
    // Each byte that is not UTF-8 becomes U+FFFD; the bytes follow in hex.
    EXPECT_NE(line.find("\"name\":\"bad\xEF\xBF\xBD\xEF\xBF\xBD\",\"name_hex\":\"626164fffe\""),
              std::string::npos)
        << line;
    EXPECT_NE(line.find(R"("message":"line1\r\nline2")"), std::string::npos) << line;
    EXPECT_NE(line.find(R"("start":"2024-02-29T23:59:59.999Z")"), std::string::npos) << line;
    EXPECT_NE(line.find(R"("verify":null,"verified":false,"serial":null,"serial_void":false})"),
              std::string::npos)
        << line;
    EXPECT_EQ(line.rfind(R"({"port":"","board_id":null,)", 0), 0u) << line;
    EXPECT_EQ(line.find('\n'), std::string::npos);
}

TEST(RunRecordJsonTest, EveryKindByteAndEveryPathByteCanBeReadBack) {
    struct Case {
        char kind;
        std::string path;
        std::string expected;  // from "kind" through "version"... as the line has them
    };
    const Case cases[] = {
        {'F', "/fw/a.pr2",
         R"("package":"/fw/a.pr2","package_sha256":"","image_sha256":null,"kind":"F",)"},
        {'\0', "/fw/a.pr2",
         R"("package":"/fw/a.pr2","package_sha256":"","image_sha256":null,"kind":"\u0000",)"},
        {'\x7f', "/fw/a.pr2",
         "\"package\":\"/fw/"
         "a.pr2\",\"package_sha256\":\"\",\"image_sha256\":null,\"kind\":\"\x7f\","},
        {'\xe9', "/fw/a.pr2",
         "\"package\":\"/fw/"
         "a.pr2\",\"package_sha256\":\"\",\"image_sha256\":null,\"kind\":\"\xC3\xA9\","},
        {'\xff', "/fw/\xff.pr2",
         "\"package\":\"/fw/\xEF\xBF\xBD.pr2\",\"package_hex\":\"2f66772fff2e707232\","
         "\"package_sha256\":\"\",\"image_sha256\":null,\"kind\":\"\xC3\xBF\","},
        // Valid UTF-8 stays as it is, with no bytes beside it.
        {'F', "/fw/\xC3\xA9.pr2",
         "\"package\":\"/fw/"
         "\xC3\xA9.pr2\",\"package_sha256\":\"\",\"image_sha256\":null,\"kind\":\"F\","},
    };
    for (const Case& c : cases) {
        RunRecord record;
        record.kind = c.kind;
        record.packagePath = c.path;
        const std::string line = RunRecordJson(record);
        EXPECT_NE(line.find(c.expected), std::string::npos) << line;
    }
}

}  // namespace
}  // namespace korvel
