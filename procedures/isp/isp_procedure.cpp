#include "procedures/isp/isp_procedure.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>

#include "procedures/fault_reasons.h"
#include "util/decimal.h"

namespace korvel {

namespace {

// Time-outs, in slices of IspLink::kSliceMs, of the commands whose answer is
// not judged through the command table (isp_report.cpp).
constexpr int kSyncSlices = 2;
constexpr int kBlankCheckSlices = 5;
// Pause before confirming sync with a board that echoed the probe.
constexpr unsigned kEchoedProbePauseMs = 300;
// Time-outs and "?" echoes of the probe tolerated before giving up.
constexpr int kMaxSyncRetries = 5;
// 12.0 MHz crystal, sent in kHz.
constexpr int kCrystalKhz = 12000;
// "RESEND" answers to one group before the run gives up.
constexpr int kMaxResends = 3;

constexpr const char* kSyncError =
    "\r\nERROR: Unable to sync to baud rate.\r\n"
    "This probably means the LPC2xxx chip is not connected\r\n"
    "or it is not being reset, or P0.14 is not low after\r\n"
    "reset to cause it to enter the bootloader mode.\r\n"
    "\r\n"
    "Please check the serial port connection, make sure\r\n"
    "pin P0.14 is low (or tied to RTS via RS-232 level\r\n"
    "translator), and the chip has been reset (or reset\r\n"
    "is tied to DTR via RS-232 level translator).\r\n";

constexpr const char* kUnknownChip =
    "\r\nUnknown chip ID: \"%s\"%s.\r\n"
    "\r\n"
    "Perhaps you have a new Philips LPC chip which does not\r\n"
    "have its ID string and sector map defined in this program?\r\n"
    "Please contact Korvel support with an exact copy of this message\r\n"
    "and the part number, revision and board of the chip.\r\n";

constexpr const char* kSynchronisation = "the synchronisation";

// What only a transfer sends: a data line, a sum, a group's answer. A board
// that answers the probe with one was stopped in the middle of a transfer.
bool IsTransferLine(std::string_view line) {
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint8_t> expected;
    return line == "OK" || line == "RESEND" || ParseDecimal<std::uint32_t>(line) ||
           UudecodeLine(line, bytes);
}

std::string AtAddress(const char* what, std::int32_t address) {
    return what + Hex32(static_cast<std::uint32_t>(address));
}

int SlicesOf(IspCommand command) {
    return IspCommandOf(command).slices;
}

}  // namespace

IspProcedure::IspProcedure(int portNumber, std::uint8_t lineFlags, int baudRate)
    : port(portNumber, baudRate, lineFlags),
      link_(port, abortRequested, [this] { ShowProgress(); }),
      report_(*this) {
    Clear();
}

IspProcedure::IspProcedure(std::unique_ptr<SerialDevice> device, std::uint8_t lineFlags,
                           int baudRate)
    : port(std::move(device), baudRate, lineFlags),
      link_(port, abortRequested, [this] { ShowProgress(); }),
      report_(*this) {
    Clear();
}

bool IspProcedure::Open() {
    return port.open();
}

void IspProcedure::Close() {
    port.close();
}

RunResult IspProcedure::Run(std::span<const std::uint8_t> image) {
    // abortRequested is not cleared here: the constructor did, and a stop
    // asked for while the port opened must still stop the run.
    progressCount_ = 0;
    progressShown_ = 0;
    learned = {};
    learned.verify = verify_;
    SetProgress(0);
    SetProgressMax(0);
    // The whole image is read and checked before the first byte goes to the
    // board, so that a bad file leaves the board with the firmware it has.
    if (!LoadImage(image)) {
        return RunResult::ProgrammingError;
    }
    report_.Log("\r\nEntering Bootloader Mode\r\n");
    image_.SetVectorChecksum();

    const bool started = Synchronise() && Identify() && CheckImageFits() && Unlock() &&
                         EraseSectors() && WriteBlocks() &&
                         (verify_ != VerifyMode::Readback || VerifyFlash()) && StartFirmware();
    SetProgress(progressCount_);
    if (abortRequested) {
        return RunResult::Aborted;
    }
    return started ? RunResult::Success : RunResult::ProgrammingError;
}

bool IspProcedure::LoadImage(std::span<const std::uint8_t> text) {
    const HexLoad load = image_.LoadHex(text);
    if (!load.ok()) {
        const std::string what = load.what();
        report_.Log("Firmware image: %s", what.c_str());
        Fail(RunResult::ProgrammingError, FaultReason(Fault::BadImage, {what}));
        return false;
    }
    highestAddress_ = load.highest;
    return true;
}

bool IspProcedure::Synchronise() {
    report_.Log("Attempting baud sync");
    const std::string notInLoader =
        FaultReason(Fault::NoAnswer,
                    {kSynchronisation, "is the board in its boot loader (P0.14 low at reset)?"});
    const std::string stale = FaultReason(Fault::StaleTransfer, {kSynchronisation});
    bool echoedProbe = false;
    for (int retries = 0; !echoedProbe;) {
        const IspAnswer probe = link_.Exchange("?", kSyncSlices, 0, IspLink::Reply::ToProbe);
        if (probe.wait == IspWait::Stopped) {
            return false;
        }
        if (probe.wait != IspWait::Answered) {
            if (retries++ >= kMaxSyncRetries) {
                return report_.Cancel(kSyncError, notInLoader);
            }
        } else if (probe.startsWith("Synchronized\r\n")) {
            break;
        } else if (probe.startsWith("?")) {
            // An echoed probe: the board is synchronised already, with echo on.
            if (++retries > kMaxSyncRetries) {
                return report_.Cancel(kSyncError, notInLoader);
            }
            port.waitMs(kEchoedProbePauseMs);
            echoedProbe = true;
        } else {
            const std::string_view line = probe.line(0);
            return report_.Cancel(
                IspFormat("Unexpected response to sync, \"%s\"", probe.text.c_str()).c_str(),
                IsTransferLine(line)
                    ? stale
                    : FaultReason(Fault::Garbled, {kSynchronisation, EscapedAnswer(line)}));
        }
    }
    const IspAnswer confirmed =
        link_.Exchange("Synchronized\r\n", SlicesOf(IspCommand::ConfirmSync));
    if (echoedProbe && confirmed.wait != IspWait::Stopped && !confirmed.startsWith("OK\r\n")) {
        // A loader that echoes the probe was left by an earlier run, and one
        // that then does not confirm is inside that run's transfer still.
        Fail(RunResult::ProgrammingError, stale);
    }
    if (!report_.Judge(confirmed, IspCommand::ConfirmSync, "confirm the synchronisation") ||
        !Command(IspCommand::Crystal, IspFormat("%d\r\n", kCrystalKhz),
                 IspFormat("take the crystal frequency (%d kHz)", kCrystalKhz))) {
        return false;
    }
    report_.Log("Baud sync sucessful\r\n");
    return true;
}

bool IspProcedure::Identify() {
    // "0", then the identification in decimal.
    const IspAnswer answer = link_.Exchange("J\r\n", SlicesOf(IspCommand::Identify), 2);
    if (!report_.Judge(answer, IspCommand::Identify, "report its part id")) {
        return false;
    }
    const std::string partId(answer.line(1));
    const auto value = ParseDecimal<std::uint32_t>(partId);
    if (value) {
        learned.partId = *value;
    }
    chip_ = ChipTable::find(partId);
    if (chip_ == nullptr) {
        const std::string hex = value ? " (" + Hex32(*value) + ")" : std::string();
        return report_.Cancel(IspFormat(kUnknownChip, partId.c_str(), hex.c_str()).c_str(),
                              value ? FaultReason(Fault::UnknownPart, {partId, Hex32(*value)})
                                    : FaultReason(Fault::Garbled, {"the request for its part id",
                                                                   EscapedAnswer(partId)}));
    }
    report_.Log("Found chip: \"%s\"\r\n", chip_->name);
    learned.chip = chip_->name;
    return ReadBootCode();
}

bool IspProcedure::ReadBootCode() {
    // "0", then the version's minor and major number, each on its own line.
    link_.Send("K\r\n", SlicesOf(IspCommand::BootCode));
    IspWait wait = link_.Await(1);
    if (wait == IspWait::Answered && link_.answer().starts_with("0\r\n")) {
        wait = link_.Await(3);
    }
    const IspAnswer answer = link_.Taken(wait);
    if (!report_.Judge(answer, IspCommand::BootCode, "report its boot code version")) {
        return false;
    }
    const auto minor = ParseDecimal<std::uint32_t>(answer.line(1));
    const auto major = ParseDecimal<std::uint32_t>(answer.line(2));
    if (!minor || !major) {
        const std::string_view bad = minor ? answer.line(2) : answer.line(1);
        return report_.Cancel(
            IspFormat("wrong response to boot code version: %s", answer.text.c_str()).c_str(),
            FaultReason(Fault::Garbled,
                        {"the request for its boot code version", EscapedAnswer(bad)}));
    }
    learned.bootCode = std::to_string(*major) + "." + std::to_string(*minor);
    report_.Log("Boot code version %s\r\n", learned.bootCode.c_str());
    return true;
}

RunResult IspProcedure::ReadIdentity() {
    progressCount_ = 0;
    progressShown_ = 0;
    learned = {};
    const bool identified = Synchronise() && Identify();
    if (abortRequested) {
        return RunResult::Aborted;
    }
    return identified ? RunResult::Success : RunResult::ProgrammingError;
}

bool IspProcedure::CheckImageFits() {
    plan_ = PlanIsp(image_, *chip_);
    if (!plan_.fits) {
        const auto highest = static_cast<std::uint32_t>(highestAddress_);
        const int kilobytes = plan_.flashBytes / 1024;
        return report_.Cancel(
            IspFormat("Firmware image: highest address 0x%08X does not fit the %d KB flash of "
                      "the %s",
                      static_cast<unsigned>(highest), kilobytes, chip_->name)
                .c_str(),
            FaultReason(Fault::ImageTooLarge,
                        {Hex32(highest), std::to_string(kilobytes), chip_->name}));
    }
    // The bar counts accepted checksum groups and copied blocks: one unit per
    // group of every block that is written.
    const auto written = std::count_if(plan_.blocks.begin(), plan_.blocks.end(),
                                       [](const IspBlock& b) { return b.dataBytes > 0; });
    const std::int32_t groups =
        (chip_->blockSize + IspLink::kGroupBytes - 1) / IspLink::kGroupBytes;
    SetProgressMax(static_cast<int>(written) * groups);
    return true;
}

bool IspProcedure::Unlock() {
    if (!Command(IspCommand::Unlock, "U 23130\r\n", "unlock its flash commands")) {
        return false;
    }
    report_.Log("Device Unlocked\r\n");
    report_.Log("Erasing....\r\n");
    return true;
}

bool IspProcedure::EraseSectors() {
    for (const IspSector& sector : plan_.sectors) {
        report_.Log("  Sector %2d: ", sector.index);
        if (!sector.used) {
            report_.Log("not used\r\n");
            continue;
        }
        const std::optional<bool> blank =
            sector.blankCheck ? SectorIsBlank(sector.index) : std::optional<bool>(false);
        if (!blank) {
            return false;
        }
        const std::string range = IspFormat("%d %d\r\n", sector.index, sector.index);
        if (!*blank && (!Command(IspCommand::PrepareErase, "P " + range,
                                 IspFormat("prepare sector %d for the erase", sector.index)) ||
                        !Command(IspCommand::Erase, "E " + range,
                                 IspFormat("erase sector %d", sector.index)))) {
            return false;
        }
        report_.Log(*blank ? "already blank\r\n" : "Ok\r\n");
    }
    report_.Log("Programming....\r\n");
    return true;
}

std::optional<bool> IspProcedure::SectorIsBlank(std::int32_t sector) {
    link_.Send(IspFormat("I %d %d\r\n", sector, sector), kBlankCheckSlices);
    IspWait wait = link_.Await(1);
    if (wait == IspWait::Answered && link_.answer().starts_with("0\r\n")) {
        return true;
    }
    if (wait == IspWait::Answered) {
        // Code, offset and contents of the first word that is not blank.
        wait = link_.Await(3);
    }
    if (wait != IspWait::Answered && wait != IspWait::Stopped) {
        report_.Cancel(
            "No response to blank check",
            FaultReason(Fault::NoAnswer,
                        {IspFormat("the blank check of sector %d", sector), kIspCheckBoard}));
    }
    return wait == IspWait::Answered ? std::optional<bool>(false) : std::nullopt;
}

bool IspProcedure::WriteBlocks() {
    for (const IspBlock& block : plan_.blocks) {
        report_.Log("  Sector %2d (0x%08X-0x%08X): ", block.sector,
                    static_cast<unsigned>(block.address),
                    static_cast<unsigned>(block.address + chip_->blockSize - 1));
        if (block.dataBytes == 0) {
            report_.Log("not used\r\n");
            continue;
        }
        // A whole block always goes, bytes without data as 0xFF.
        const std::string data = AtAddress("the data for ", block.address);
        blockBytes_.resize(static_cast<std::size_t>(chip_->blockSize));
        image_.ReadImage(block.address, chip_->blockSize, blockBytes_.data());
        if (!Command(IspCommand::WriteToRam,
                     IspFormat("W %d %d\r\n", chip_->ramBuffer, chip_->blockSize),
                     "take " + data + " into its RAM") ||
            !TransferToRam(blockBytes_, data) ||
            !Command(IspCommand::PrepareCopy, IspFormat("P %d %d\r\n", block.sector, block.sector),
                     IspFormat("prepare sector %d for writing", block.sector)) ||
            !Command(IspCommand::Copy,
                     IspFormat("C %d %d %d\r\n", block.address, chip_->ramBuffer, chip_->blockSize),
                     "copy " + data + " into flash") ||
            (verify_ == VerifyMode::Compare && !CompareBlock(block))) {
            return false;
        }
        report_.Log("Ok\r\n");
        ++progressCount_;
        learned.bytesWritten += static_cast<std::uint64_t>(block.dataBytes);
    }
    if (verify_ == VerifyMode::Compare) {
        report_.Log("Verified\r\n");
        learned.verified = true;
    }
    return true;
}

bool IspProcedure::CompareBlock(const IspBlock& block) {
    const std::int32_t skipped = std::max(0, kIspBootBlockBytes - block.address);
    const std::int32_t address = block.address + skipped;
    const std::string what = AtAddress("compare the flash from ", address);
    link_.Send(IspFormat("M %d %d %d\r\n", address, chip_->ramBuffer + skipped,
                         chip_->blockSize - skipped),
               SlicesOf(IspCommand::Compare));
    IspWait wait = link_.Await(1);
    // COMPARE_ERROR is followed by the offset of the first difference.
    constexpr int kCompareError = 10;
    if (wait != IspWait::Answered || link_.Taken(wait).code() != kCompareError) {
        return report_.Judge(link_.Taken(wait), IspCommand::Compare, what);
    }
    wait = link_.Await(2);
    const IspAnswer answer = link_.Taken(wait);
    const auto offset = ParseDecimal<std::uint32_t>(answer.line(1));
    if (wait != IspWait::Answered) {
        return report_.Judge(answer, IspCommand::Compare, what);
    }
    if (!offset || *offset >= static_cast<std::uint32_t>(chip_->blockSize - skipped)) {
        return report_.Cancel(
            "Verify failed",
            FaultReason(Fault::Garbled, {"the command to " + what, EscapedAnswer(answer.line(1))}));
    }
    const auto at = static_cast<std::uint32_t>(address) + *offset;
    return report_.Cancel(IspFormat("Verify failed at 0x%08X", static_cast<unsigned>(at)).c_str(),
                          FaultReason(Fault::CompareMismatch, {Hex32(at)}));
}

bool IspProcedure::TransferToRam(std::span<const std::uint8_t> bytes, const std::string& what) {
    for (std::size_t offset = 0; offset < bytes.size();) {
        const auto group = bytes.subspan(
            offset, std::min<std::size_t>(IspLink::kGroupBytes, bytes.size() - offset));
        offset += group.size();
        const IspWait wait =
            link_.SendDataGroup(group, SlicesOf(IspCommand::DataGroup), kMaxResends);
        if (wait == IspWait::Answered && link_.answer().starts_with("RESEND\r\n")) {
            return report_.Cancel(
                IspFormat("bad checksum, also after the group was sent %d times more", kMaxResends)
                    .c_str(),
                FaultReason(Fault::LineErrors, {what, std::to_string(kMaxResends)}));
        }
        if (!report_.Judge(link_.Taken(wait), IspCommand::DataGroup, "take " + what)) {
            return false;
        }
        if (offset < bytes.size()) {
            ++progressCount_;
        }
    }
    return true;
}

bool IspProcedure::VerifyFlash() {
    report_.Log("Verifying....\r\n");
    for (const IspRange& range : plan_.verify) {
        if (!VerifyRange(range)) {
            return false;
        }
    }
    report_.Log("Verified\r\n");
    learned.verified = true;
    return true;
}

bool IspProcedure::VerifyRange(const IspRange& range) {
    const auto [address, count] = range;
    const std::string read = AtAddress("read back the flash from ", address);
    const int slices = SlicesOf(IspCommand::ReadLines);
    if (!Command(IspCommand::Read, IspFormat("R %d %d\r\n", address, count), read)) {
        return false;
    }
    // The lines follow the return code at once.
    link_.Send("", slices);
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint8_t> expected;
    for (std::int32_t done = 0; done < count;) {
        const std::int32_t groupBytes = std::min(IspLink::kGroupBytes, count - done);
        const IspWait wait = link_.ReceiveDataGroup(groupBytes, slices, kMaxResends, bytes);
        if (wait != IspWait::Answered) {
            return report_.Judge(link_.Taken(wait), IspCommand::ReadLines, read);
        }
        if (bytes.empty()) {
            return report_.Cancel(
                IspFormat("read-back: bad checksum, also after %d more tries", kMaxResends).c_str(),
                FaultReason(Fault::LineErrors,
                            {AtAddress("the flash read back from ", address + done),
                             std::to_string(kMaxResends)}));
        }
        expected.resize(bytes.size());
        image_.ReadImage(address + done, groupBytes, expected.data());
        const auto [differs, wanted] = std::mismatch(bytes.begin(), bytes.end(), expected.begin());
        if (differs != bytes.end()) {
            const auto at = static_cast<std::uint32_t>(address + done + (differs - bytes.begin()));
            return report_.Cancel(
                IspFormat("Verify failed at 0x%08X: the flash holds 0x%02X, the image 0x%02X",
                          static_cast<unsigned>(at), *differs, *wanted)
                    .c_str(),
                FaultReason(Fault::VerifyMismatch, {Hex32(at), Hex8(*wanted), Hex8(*differs)}));
        }
        done += groupBytes;
        // The echo of "OK" comes before the next group; after the last it is
        // all that comes.
        link_.Send("OK\r\n", slices,
                   done < count ? IspLink::Reply::AfterEcho : IspLink::Reply::EchoOnly);
    }
    return report_.Judge(link_.Taken(link_.Await(0)), IspCommand::ReadLines, read);
}

bool IspProcedure::StartFirmware() {
    report_.Log("Booting (soft jump)...\r\n");
    report_.Log("loading jump code\r\n");
    // The jump program goes from a buffer of its own, not through the image.
    const std::vector<std::uint8_t> program = chip_->jumpProgram();
    if (!Command(IspCommand::LoadJump,
                 IspFormat("W %d %d\r\n", chip_->ramBuffer, static_cast<int>(program.size())),
                 "take the jump program into its RAM") ||
        !TransferToRam(program, "the jump program")) {
        return false;
    }
    report_.Log("jumping now!\r\n");
    link_.Send(IspFormat("G %d A\r\n", chip_->ramBuffer), SlicesOf(IspCommand::Go));
    const IspWait wait = link_.Await(1);
    // Silence means the jump program runs: it took the loader away.
    if (wait == IspWait::Stopped || wait == IspWait::TimedOut) {
        return wait == IspWait::TimedOut;
    }
    // An answer that came with the time-out's last slice is still judged.
    const IspAnswer answer = link_.Taken(IspWait::Answered);
    if (!answer.startsWith("0\r\n")) {
        report_.Log("response = %s", answer.text.c_str());
    }
    return report_.Judge(answer, IspCommand::Go, "start the firmware");
}

bool IspProcedure::Command(IspCommand command, const std::string& text, const std::string& what) {
    return report_.Judge(link_.Exchange(text, SlicesOf(command)), command, what);
}

void IspProcedure::ShowProgress() {
    // Each report is a hand-over to the front end: only a change goes.
    if (progressCount_ != progressShown_) {
        progressShown_ = progressCount_;
        SetProgress(progressCount_);
    }
}

}  // namespace korvel
