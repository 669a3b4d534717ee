#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "sim/board_model.h"
#include "sim/lpc_parts.h"
#include "sim/lpc_ram_program.h"

namespace korvel::sim {

// Named misbehaviours of an LPC board, for the failure paths of a host.
enum class LpcFault {
    Silent,        // never answers anything
    NoEcho,        // answers without echoing what it hears
    UnknownId,     // "J" reports a part id no host knows
    RefuseUnlock,  // "U 23130" answered INVALID_CODE
    RefuseErase,   // "E" answered BUSY
    ResendOnce,    // the first checksum answered "RESEND" although it is right
    ResendAlways,  // every checksum answered "RESEND", right or not
    DropByte,      // the UART loses the 10th character of the first data line
    GarbleEcho,    // the echo of that character comes back changed; the chip got it right
    EchoProbe,     // still synchronised from an earlier session: "?" is echoed
    SyncGarbage,   // answers "?" with line noise instead of "Synchronized"
    GoSilent,      // "G" starts the program without answering "0"
    GoError,       // "G" answered ADDR_ERROR; the loader stays
    WeakCell,      // the first copy leaves the byte 0x100 into its destination erased:
                   // it reads back different from what was written
    ReadNoise,     // the first group read back ("R") goes out with a wrong sum
    // An earlier session was stopped in the middle of a RAM write ("W"): the
    // loader, echo on, takes whatever comes as the rest of its data lines.
    StoppedTransfer,
};

std::optional<LpcFault> ParseLpcFault(std::string_view name);
// The names ParseLpcFault takes, for usage texts.
const std::string& LpcFaultNames();

// An LPC2000 chip in its serial ISP boot loader, from the chip's side: "?"
// auto-baud, the "Synchronized" and crystal handshake, then echoed text
// commands with return codes, uuencoded RAM writes with group checksums, and
// flash that programs only from 1 to 0. One model serves every part of the
// part table. Where the user manuals leave a choice open, the choice is said
// at the place it is made.
class LpcBoard : public BoardModel {
  public:
    struct Options {
        std::set<LpcFault> faults;
        // The datasheets' erase and programming times; off answers at once.
        bool flashTiming = false;
        // Flash contents at power-on (the user flash size; shorter is padded
        // with 0xFF). Empty: a blank chip.
        std::vector<std::uint8_t> flash;
        // What "K" reports.
        std::uint8_t bootCodeMajor = 2;
        std::uint8_t bootCodeMinor = 12;
    };

    static constexpr std::uint32_t kRamBase = 0x40000000;
    static constexpr VirtualNs kEraseNs = 400 * kMs;
    static constexpr std::size_t kUartFifo = 16;

    LpcBoard(const LpcPart& part, Options options);
    explicit LpcBoard(const LpcPart& part);

    const LpcPart& part() const { return part_; }
    const std::vector<std::uint8_t>& flash() const { return flash_; }
    const std::vector<std::uint8_t>& ram() const { return ram_; }
    // Every command line the loader executed, without its line end.
    const std::vector<std::string>& commands() const { return commands_; }
    int dataLines() const { return dataLines_; }
    int resends() const { return resends_; }
    // Characters lost because the host sent while the flash was busy.
    int overrunBytes() const { return overrunBytes_; }
    // The erase and programming time the flash took (with flashTiming).
    VirtualNs flashBusyNs() const { return flashBusyNs_; }
    // Set once "G" has handed the chip to a program.
    const std::optional<RamProgramOutcome>& started() const { return started_; }
    // The eight exception vectors add up to 0, so the chip would start the
    // user code after a reset.
    bool vectorsValid() const;

    // Called once the loader is gone (after "G"), e.g. to save the flash.
    std::function<void()> onStarted;

  protected:
    void onByte(VirtualNs at, std::uint8_t byte) override;

  private:
    enum class Mode { AwaitProbe, AwaitSyncLine, AwaitCrystal, Command, DataIn, DataOut, Started };

    bool has(LpcFault f) const { return options_.faults.count(f) != 0; }
    void receive(VirtualNs at, std::uint8_t byte);
    void lineDone(VirtualNs at, const std::string& line);
    void execute(VirtualNs at, const std::string& line);
    void dataLine(VirtualNs at, const std::string& line);
    void answer(VirtualNs at, int code);

    int unlock(const std::vector<std::uint32_t>& args);
    int prepare(const std::vector<std::uint32_t>& args);
    int erase(VirtualNs at, const std::vector<std::uint32_t>& args);
    int blankCheck(const std::vector<std::uint32_t>& args, std::string& extra);
    int writeToRam(const std::vector<std::uint32_t>& args);
    int readMemory(const std::vector<std::uint32_t>& args);
    // Sends the next group of a read ("R") as uuencoded lines and their sum.
    void sendReadGroup(VirtualNs at);
    void readAnswer(VirtualNs at, const std::string& line);
    // A byte as the loader reads it: the boot block over the first 64 bytes
    // of flash, then the flash, then the RAM.
    std::uint8_t memoryByte(std::uint32_t address) const;
    // "M": kCompareError with offset set at the first difference.
    int compare(const std::vector<std::uint32_t>& args, std::uint32_t& offset) const;
    int copyToFlash(VirtualNs at, const std::vector<std::uint32_t>& args);
    int go(const std::vector<std::string>& words, const std::vector<std::uint32_t>& args);

    bool validSectors(std::uint32_t first, std::uint32_t last) const;
    std::uint32_t sectorStart(std::uint32_t sector) const;
    // The sector holding a flash address (which must be inside the flash).
    std::uint32_t sectorOf(std::uint32_t address) const;
    void busyFor(VirtualNs at, VirtualNs duration);

    const LpcPart& part_;
    Options options_;
    std::vector<std::uint32_t> sectorSizes_;
    std::vector<std::uint8_t> flash_;
    std::vector<std::uint8_t> ram_;
    std::vector<bool> prepared_;

    Mode mode_ = Mode::AwaitProbe;
    bool echo_ = true;
    bool unlocked_ = false;
    std::string line_;
    // The flash controller is busy until then; the UART only fills its FIFO.
    VirtualNs busyUntil_ = 0;
    std::size_t heldBytes_ = 0;

    // The RAM write in progress ("W").
    std::uint32_t writeAddress_ = 0;
    std::uint32_t writeRemaining_ = 0;
    std::uint32_t groupAddress_ = 0;
    std::uint32_t groupRemaining_ = 0;
    int groupLines_ = 0;
    std::uint32_t groupSum_ = 0;
    bool firstDataLine_ = true;
    bool byteDropped_ = false;
    bool echoGarbled_ = false;
    bool resendDone_ = false;
    bool cellWeakened_ = false;
    bool readNoiseDone_ = false;

    // The read in progress ("R"): the group sent last and what follows it.
    std::uint32_t readAddress_ = 0;
    std::uint32_t readRemaining_ = 0;
    std::uint32_t readGroupBytes_ = 0;

    std::vector<std::string> commands_;
    int dataLines_ = 0;
    int resends_ = 0;
    int overrunBytes_ = 0;
    VirtualNs flashBusyNs_ = 0;
    std::optional<RamProgramOutcome> started_;
};

}  // namespace korvel::sim
