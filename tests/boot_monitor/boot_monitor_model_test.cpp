#include "sim/boot_monitor_model.h"

#include <gtest/gtest.h>

#include "serial/serial_port.h"

// The boot-monitor board model on its own: what ends a raw transfer on the
// virtual line (a BREAK) and on a pty (the host's silence), and its limits.
namespace korvel::sim {
namespace {

constexpr VirtualNs kMs = BoardModel::kMs;

// A terminal on the model's console, as a test types into it.
class Terminal {
  public:
    explicit Terminal(BootMonitorModel& board)
        : port_(std::make_unique<VirtualSerialDevice>(board), 115200, 0x11) {
        EXPECT_TRUE(port_.open());
    }
    void type(const std::string& text) {
        port_.write(reinterpret_cast<const std::uint8_t*>(text.data()),
                    static_cast<std::uint16_t>(text.size()));
    }
    // Everything the board says within `ms`.
    std::string listen(unsigned ms) {
        std::string heard;
        const std::uint32_t start = port_.tickMs();
        std::uint8_t buf[64];
        while (port_.tickMs() - start < ms) {
            const auto n = port_.read(buf, sizeof buf);
            heard.append(buf, buf + n);
        }
        return heard;
    }
    SerialPort& port() { return port_; }

  private:
    SerialPort port_;
};

// Powers the board on, stops the automatic start and opens a raw transfer.
void StartLoad(Terminal& t) {
    EXPECT_NE(t.listen(400).find("press any key to stop"), std::string::npos);
    t.type(" ");
    t.type("load term raw 0x1000\r");
    EXPECT_NE(t.listen(100).find("Ready for raw data to 0x00001000"), std::string::npos);
}

TEST(BootMonitorModelTest, OnTheVirtualLineOnlyABreakEndsARawTransfer) {
    BootMonitorModel board;
    Terminal t(board);
    StartLoad(t);
    t.type(std::string("ab\0c", 4));
    EXPECT_EQ(t.listen(3000), "") << "silence must not end the transfer here";
    t.port().sendBreak();
    EXPECT_EQ(t.listen(100), "Loaded 4 bytes to 0x00001000 successfully\r\n> ");
    EXPECT_EQ(board.images().at(0x1000), (std::vector<std::uint8_t>{'a', 'b', 0, 'c'}));
    EXPECT_EQ(board.transferEnds(), std::vector<std::string>{"BREAK"});
}

TEST(BootMonitorModelTest, OnAPtySilenceStandsForTheBreakAndTheLogSaysSo) {
    BootMonitorConfig config;
    config.breakSilence = 200 * kMs;
    BootMonitorModel board(config);
    std::vector<std::string> log;
    board.setLogger([&](const std::string& line) { log.push_back(line); });
    Terminal t(board);
    StartLoad(t);
    t.type("abc");
    EXPECT_EQ(t.listen(150), "") << "a pause shorter than the silence goes on";
    t.type("de");
    EXPECT_EQ(t.listen(300), "Loaded 5 bytes to 0x00001000 successfully\r\n> ");
    EXPECT_EQ(board.transferEnds(), std::vector<std::string>{"silence"});
    EXPECT_EQ(log.back(),
              "raw transfer to 0x00001000 ended by 200 ms of silence (a pty carries no BREAK), 5 "
              "bytes");
}

TEST(BootMonitorModelTest, ATransferLargerThanTheRamWindowIsRefusedNotStored) {
    BootMonitorConfig config;
    config.maxTransferBytes = 8;
    BootMonitorModel board(config);
    Terminal t(board);
    StartLoad(t);
    t.type("123456789");
    t.port().sendBreak();
    EXPECT_EQ(t.listen(100),
              "Error: raw load aborted after 9 bytes\r\nLoad buffer released successfully\r\n> ");
    EXPECT_TRUE(board.images().empty());
}

TEST(BootMonitorModelTest, FaultNamesAreCheckedWithAReason) {
    BootMonitorFaults faults;
    std::string error;
    EXPECT_TRUE(AddBootMonitorFault("refuse@0x80000000", faults, error));
    EXPECT_TRUE(faults.refuse.hits(0x80000000));
    EXPECT_FALSE(faults.refuse.hits(0x83fa0000));
    EXPECT_TRUE(AddBootMonitorFault("mute-nsave", faults, error));
    EXPECT_EQ(faults.mutedCommands.count("nsave"), 1u);
    for (const char* bad :
         {"refuse@", "refuse@0x1zz", "ignore-break@0x100000000", "slow", "running@0x10"}) {
        SCOPED_TRACE(bad);
        error.clear();
        EXPECT_FALSE(AddBootMonitorFault(bad, faults, error));
        EXPECT_NE(error.find(bad), std::string::npos);
    }
}

}  // namespace
}  // namespace korvel::sim
