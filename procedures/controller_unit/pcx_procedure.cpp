#include "procedures/controller_unit/pcx_procedure.h"

#include <algorithm>

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
}  // namespace

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
        link.setBaudRate(kLoaderBaudRate);
        if (link.PingWithin(kConnectPingMs, kConnectPingMs) == FramedLink::kOk) {
            Status(StatusId::Connected);
            return options_.writeMcuFlash && options_.checkVersion ? Phase::VersionCheck
                                                                   : Phase::Identify;
        }
    }
    if (abortRequested) {
        return Phase::Connect;
    }
    return ++connectTries_ >= kConnectTries ? Phase::Failed : Phase::Connect;
}

bool PcxProcedure::readLoaderInfo(LoaderInfo& info) {
    code_ = pcx_code::kRequestFailed;
    if (link.ReadInfo(info) != FramedLink::kOk) {
        return false;
    }
    if (info.field3 != kLoaderId) {
        code_ = pcx_code::kOtherLoader;
        return false;
    }
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
    link.setBaudRate(kLoaderBaudRate);
    return link.BeginProgramming() == FramedLink::kOk ? Phase::SpeedChange : Phase::Failed;
}

PcxProcedure::Phase PcxProcedure::changeSpeed() {
    if (link.ChangeBaudRate(static_cast<std::uint32_t>(speed_)) != FramedLink::kOk) {
        return Phase::Failed;
    }
    link.setBaudRate(speed_);
    link.waitMs(kSpeedSettleMs);
    if (link.PingWithin(kReconnectTotalMs, kReconnectStepMs) != FramedLink::kOk) {
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
    if (link.Erase(0) == FramedLink::kOk) {
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
    if (!erased_[index] && link.Erase(pcx::SectorStart(eraseSector_)) != FramedLink::kOk) {
        code_ = pcx_code::kRequestFailed;
        return Phase::Failed;
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
        if (link.WriteBlock(address, block_.data()) != FramedLink::kOk) {
            code_ = pcx_code::kRequestFailed;
            return Phase::Failed;
        }
    }
    offset_ += chunk;
    return Phase::Program;
}

PcxProcedure::Phase PcxProcedure::finish() {
    Status(StatusId::Reboot);
    link.Reboot();
    link.waitMs(kRestartPauseMs);
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
