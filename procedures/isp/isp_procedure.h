#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "jobs/proc_context.h"
#include "jobs/run_result.h"
#include "jobs/verify_mode.h"
#include "procedures/isp/chip_table.h"
#include "procedures/isp/flash_image.h"
#include "procedures/isp/isp_link.h"
#include "procedures/isp/isp_plan.h"
#include "procedures/isp/isp_report.h"
#include "serial/serial_port.h"

namespace korvel {

// Programs an LPC2000 chip through its serial ISP boot loader: baud sync,
// identification, unlock, erase of the sectors the image needs, the image in
// blocks through a RAM buffer, then a small jump program that starts the new
// firmware. The plan (isp_plan.h) decides what to erase, write and read
// back; the link (isp_link.h) carries each command and its answer; the
// report (isp_report.h) tells the user; the phases here hold them together.
class IspProcedure : public ProcContext {
  public:
    IspProcedure(int portNumber, std::uint8_t lineFlags, int baudRate);
    // For tests: a port on a device the caller made.
    IspProcedure(std::unique_ptr<SerialDevice> device, std::uint8_t lineFlags, int baudRate);

    bool Open();
    void Close();
    // The Intel HEX text of the firmware. Success, ProgrammingError or
    // Aborted; a failure's reason and what was learned of the board are in
    // the context (Conclude).
    RunResult Run(std::span<const std::uint8_t> image);
    // Only synchronises and identifies the chip (part id, chip row, boot
    // code version into learned): nothing is erased, written or started.
    // Success, ProgrammingError or Aborted, like Run.
    RunResult ReadIdentity();

    // Compare: the chip compares each block with its RAM copy right after
    // the copy. Readback: the written flash is read back and compared with
    // the image before the firmware is started. Either leaves out the first
    // 64 bytes; learned.verified tells that the check completed.
    void SetVerify(VerifyMode mode) { verify_ = mode; }

    SerialPort port;

  private:
    // The phases of a run, in order; each returns false when the run ends there.
    bool LoadImage(std::span<const std::uint8_t> text);
    bool Synchronise();
    bool Identify();
    bool ReadBootCode();
    bool CheckImageFits();
    bool Unlock();
    bool EraseSectors();
    bool WriteBlocks();
    bool VerifyFlash();
    bool StartFirmware();

    // Asks whether a sector is blank: true or false; none when the run ends.
    std::optional<bool> SectorIsBlank(std::int32_t sector);
    // Sends bytes as data lines into the chip's RAM buffer, a checksum after
    // every group of lines; `what` names them in a reason.
    bool TransferToRam(std::span<const std::uint8_t> bytes, const std::string& what);
    bool VerifyRange(const IspRange& range);
    // The chip compares the block just copied with the RAM buffer.
    bool CompareBlock(const IspBlock& block);
    // Sends one command and judges its answer; `what` completes "The board
    // refused to ...".
    bool Command(IspCommand command, const std::string& text, const std::string& what);
    void ShowProgress();

    IspLink link_;
    IspReport report_;
    FlashImage image_;
    std::int32_t highestAddress_ = -1;
    const ChipRow* chip_ = nullptr;
    IspPlan plan_;
    VerifyMode verify_ = VerifyMode::None;
    // One block's bytes on their way to the RAM buffer.
    std::vector<std::uint8_t> blockBytes_;
    // Accepted checksum groups and copied blocks.
    std::int32_t progressCount_ = 0;
    // The position last reported to the bar.
    std::int32_t progressShown_ = 0;
};

}  // namespace korvel
