#include "procedures/controller_unit/pcx_procedure.h"

#include <algorithm>

#include "procedures/fault_reasons.h"

namespace korvel {

namespace {
// The unit's address on the line.
constexpr std::uint8_t kUnitAddress = 0x22;
// The only boot loader this procedure knows how to program through.
constexpr const char* kLoaderId = "BOOTPLM300";
// The loader always starts at this speed and never goes faster.
constexpr int kLoaderBaudRate = 57600;

constexpr int kConnectTries = 100;
// One ping per connection try, 100 ms for its reply.
constexpr std::uint32_t kConnectPingMs = 100;
// After the speed change: let both ends settle, then up to 20 pings of 100 ms.
constexpr unsigned kSpeedSettleMs = 200;
constexpr std::uint32_t kReconnectTotalMs = 2000;
constexpr std::uint32_t kReconnectStepMs = 100;
// The unit restarts after Reboot; give it the time before the port closes.
constexpr unsigned kRestartPauseMs = 1000;
// The Reboot after a failure: one short try, the unit may well be gone.
constexpr std::uint32_t kFailureRebootTimeoutMs = 200;
constexpr std::uint16_t kFailureRebootAttempts = 1;

// What to look at when the unit goes silent.
constexpr const char* kCheckUnitStart =
    "is the controller unit powered, its cable connected and its boot loader running?";
constexpr const char* kCheckUnit = "check the controller unit's power and cable, then start again";

// The unit's status byte in words: busy is the one the protocol names.
std::string UnitStatus(std::uint8_t status) {
    return status == FramedLink::kBusy ? "busy (0xFF)" : "status " + Hex8(status);
}

std::string Baud(int rate) {
    return std::to_string(rate) + " baud";
}
}  // namespace

void PcxProcedure::failRequest(const LinkResult& result, const std::string& toDo,
                               const std::string& request, const char* check) {
    switch (result.outcome) {
        case LinkOutcome::Refused:
            Fail(RunResult::ProgrammingError,
                 FaultReason(Fault::Refused, {toDo, UnitStatus(result.status)}));
            break;
        case LinkOutcome::NoReply:
            Fail(RunResult::ProgrammingError, FaultReason(Fault::NoAnswer, {request, check}));
            break;
        case LinkOutcome::BadReply:
            Fail(RunResult::ProgrammingError,
                 FaultReason(Fault::Garbled, {request, EscapedAnswer(link.replyPayload())}));
            break;
        case LinkOutcome::Ok:
        case LinkOutcome::Aborted:
            break;
    }
}

PcxProcedure::PcxProcedure(int portNumber) : link(portNumber) {}

PcxProcedure::PcxProcedure(std::unique_ptr<SerialDevice> device) : link(std::move(device)) {}

void PcxProcedure::Prepare() {
    erased_.fill(false);
}

void PcxProcedure::Abort() {
    abortRequested = true;
    link.RequestLinkAbort();
}

int PcxProcedure::Run(std::span<const std::uint8_t> image, const std::string& version,
                      const PcxOptions& options) {
    image_ = image;
    version_ = !version.empty() && version[0] == ' ' ? version.substr(1) : version;
    options_ = options;
    code_ = pcx_code::kNoConnection;
    offset_ = 0;
    connectTries_ = 0;
    lastPing_ = {};

    Phase phase = Phase::Start;
    do {
        phase = step(phase);
    } while (phase != Phase::Done && phase != Phase::Failed && !abortRequested);

    if (abortRequested) {
        return pcx_code::kStopped;
    }
    if (phase == Phase::Failed) {
        rebootAfterFailure();
    }
    SetProgress(static_cast<int>(offset_));
    return code_;
}

PcxProcedure::Phase PcxProcedure::step(Phase phase) {
    switch (phase) {
        case Phase::Start:
            return start();
        case Phase::Connect:
            return connect();
        case Phase::VersionCheck:
            return checkVersion();
        case Phase::Identify:
            return identify();
        case Phase::Begin:
            return begin();
        case Phase::SpeedChange:
            return changeSpeed();
        case Phase::EraseAll:
            return eraseAll();
        case Phase::EraseSectors:
            return eraseNextSector();
        case Phase::ProgramSetup:
            return programSetup();
        case Phase::Program:
            return programNextBlock();
        case Phase::Finish:
            return finish();
        case Phase::Done:
        case Phase::Failed:
            break;
    }
    return phase;
}

PcxProcedure::Phase PcxProcedure::start() {
    Status(StatusId::Connecting);
    SetProgress(0);
    // A rate the loader cannot take falls back to its own.
    speed_ = options_.flashBaudRate > 0 ? std::min(options_.flashBaudRate, kLoaderBaudRate)
                                        : kLoaderBaudRate;
    return Phase::Connect;
}

PcxProcedure::Phase PcxProcedure::connect() {
    code_ = pcx_code::kNoConnection;
    if (options_.connectToBoot) {
        link.setAddress(kUnitAddress);
        link.port().setBaudRate(kLoaderBaudRate);
        lastPing_ = link.PingWithin(kConnectPingMs, kConnectPingMs);
        if (lastPing_.ok()) {
            Status(StatusId::Connected);
            return options_.writeMcuFlash && options_.checkVersion ? Phase::VersionCheck
                                                                   : Phase::Identify;
        }
    }
    if (abortRequested) {
        return Phase::Connect;
    }
    if (++connectTries_ < kConnectTries) {
        return Phase::Connect;
    }
    failRequest(lastPing_, "answer the connection pings",
                std::to_string(kConnectTries) + " connection pings", kCheckUnitStart);
    return Phase::Failed;
}

bool PcxProcedure::readLoaderInfo(LoaderInfo& info) {
    code_ = pcx_code::kRequestFailed;
    const LinkResult result = link.ReadInfo(info);
    if (!result.ok()) {
        failRequest(result, "report its loader information", "the loader information request",
                    kCheckUnit);
        return false;
    }
    if (info.field3 != kLoaderId) {
        code_ = pcx_code::kOtherLoader;
        Fail(RunResult::ProgrammingError,
             FaultReason(Fault::OtherLoader,
                         {EscapedAnswer(info.field3), EscapedAnswer(kLoaderId)}));
        return false;
    }
    learned.bootCode = info.field3;
    return true;
}

PcxProcedure::Phase PcxProcedure::checkVersion() {
    LoaderInfo info;
    if (!readLoaderInfo(info)) {
        return Phase::Failed;
    }
    const std::string& unitVersion = info.field2;
    if (!unitVersion.empty() && version_.find(unitVersion) != std::string::npos) {
        link.LeaveLoader();
        code_ = pcx_code::kSameVersion;
        return Phase::Done;
    }
    return Phase::Identify;
}

PcxProcedure::Phase PcxProcedure::identify() {
    Status(StatusId::ReadInfo);
    LoaderInfo info;
    if (!readLoaderInfo(info)) {
        return Phase::Failed;
    }
    if (!options_.writeMcuFlash) {
        link.LeaveLoader();
        code_ = pcx_code::kIdentifiedOnly;
        return Phase::Done;
    }
    return Phase::Begin;
}

PcxProcedure::Phase PcxProcedure::begin() {
    code_ = pcx_code::kRequestFailed;
    link.setAddress(kUnitAddress);
    link.port().setBaudRate(kLoaderBaudRate);
    const LinkResult result = link.BeginProgramming();
    if (!result.ok()) {
        failRequest(result, "begin programming", "the request to begin programming", kCheckUnit);
        return Phase::Failed;
    }
    return Phase::SpeedChange;
}

PcxProcedure::Phase PcxProcedure::changeSpeed() {
    const LinkResult change = link.ChangeBaudRate(static_cast<std::uint32_t>(speed_));
    if (!change.ok()) {
        failRequest(change, "change to " + Baud(speed_), "the change to " + Baud(speed_),
                    kCheckUnit);
        return Phase::Failed;
    }
    link.port().setBaudRate(speed_);
    link.port().waitMs(kSpeedSettleMs);
    const LinkResult ping = link.PingWithin(kReconnectTotalMs, kReconnectStepMs);
    if (!ping.ok()) {
        failRequest(ping, "answer the pings at " + Baud(speed_),
                    "the pings at " + Baud(speed_) + " after the speed change", kCheckUnit);
        return Phase::Failed;
    }
    // The sectors the image needs, from the first programmable one on.
    lastSector_ = pcx::kFirstProgrammableSector;
    std::size_t total = pcx::SectorSize(lastSector_);
    while (lastSector_ < pcx::kLastProgrammableSector && total < image_.size()) {
        ++lastSector_;
        total += pcx::SectorSize(lastSector_);
    }
    Status(StatusId::Erase);
    SetProgress(0);
    SetProgressMax(lastSector_ - pcx::kFirstProgrammableSector + 1);
    return Phase::EraseAll;
}

PcxProcedure::Phase PcxProcedure::eraseAll() {
    // Address 0 asks the loader to erase its whole programmable range.
    if (link.Erase(0).ok()) {
        for (int sector = lastSector_; sector >= pcx::kFirstProgrammableSector; --sector) {
            StepProgress(1);
            erased_[static_cast<std::size_t>(sector)] = true;
        }
        return Phase::ProgramSetup;
    }
    eraseSector_ = lastSector_;
    return Phase::EraseSectors;
}

PcxProcedure::Phase PcxProcedure::eraseNextSector() {
    const auto index = static_cast<std::size_t>(eraseSector_);
    if (!erased_[index]) {
        const std::uint32_t start = pcx::SectorStart(eraseSector_);
        const LinkResult result = link.Erase(start);
        if (!result.ok()) {
            const std::string sector =
                "sector " + std::to_string(eraseSector_) + " (" + Hex32(start) + ")";
            failRequest(result, "erase " + sector, "the erase of " + sector, kCheckUnit);
            code_ = pcx_code::kRequestFailed;
            return Phase::Failed;
        }
    }
    StepProgress(1);
    erased_[index] = true;
    if (eraseSector_ == pcx::kFirstProgrammableSector) {
        return Phase::ProgramSetup;
    }
    --eraseSector_;
    return Phase::EraseSectors;
}

PcxProcedure::Phase PcxProcedure::programSetup() {
    Status(StatusId::Programming);
    SetProgress(0);
    SetProgressMax(static_cast<int>(image_.size()));
    offset_ = 0;
    return Phase::Program;
}

PcxProcedure::Phase PcxProcedure::programNextBlock() {
    if (offset_ >= image_.size()) {
        return Phase::Finish;
    }
    SetProgress(static_cast<int>(offset_));
    const std::size_t chunk = std::min(FramedLink::kBlockSize, image_.size() - offset_);
    const std::uint8_t* data = image_.data() + offset_;
    // Erased flash already reads 0xFF: a blank block needs no request.
    if (!std::all_of(data, data + chunk, [](std::uint8_t b) { return b == 0xFF; })) {
        const auto address = static_cast<std::uint32_t>(pcx::kImageBase + offset_);
        if (const auto sector = pcx::SectorOf(address)) {
            erased_[static_cast<std::size_t>(*sector)] = false;
        }
        // The tail of a short last block is the erased value, never bytes past the image.
        std::fill(std::copy_n(data, chunk, block_.begin()), block_.end(), 0xFF);
        const LinkResult result = link.WriteBlock(address, block_.data());
        if (!result.ok()) {
            failRequest(result, "write the block at " + Hex32(address),
                        "the block write at " + Hex32(address), kCheckUnit);
            code_ = pcx_code::kRequestFailed;
            return Phase::Failed;
        }
    }
    // A blank block is in flash through the erase.
    offset_ += chunk;
    learned.bytesWritten = offset_;
    return Phase::Program;
}

PcxProcedure::Phase PcxProcedure::finish() {
    Status(StatusId::Reboot);
    link.Reboot();
    link.port().waitMs(kRestartPauseMs);
    code_ = pcx_code::kProgrammed;
    return Phase::Done;
}

void PcxProcedure::rebootAfterFailure() {
    Status(StatusId::Reboot);
    link.setReplyTimeoutMs(kFailureRebootTimeoutMs);
    link.setAttemptsOnTimeout(kFailureRebootAttempts);
    link.Reboot();
    link.restoreDefaults();
}

}  // namespace korvel
