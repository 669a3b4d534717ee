#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "jobs/pcx_options.h"
#include "jobs/proc_context.h"
#include "procedures/controller_unit/framed_link.h"
#include "procedures/controller_unit/pcx_flash_layout.h"

namespace korvel {

// What Run ends with.
namespace pcx_code {
inline constexpr int kNoConnection = 0;
inline constexpr int kIdentifiedOnly = 2;  // nothing to program
inline constexpr int kSameVersion = 3;     // the unit already runs the package's version
inline constexpr int kProgrammed = 4;
inline constexpr int kRequestFailed = 5;
inline constexpr int kOtherLoader = 6;
inline constexpr int kStopped = 7;
}  // namespace pcx_code

// Reprograms the PCX through its boot loader: connect by pings, check the
// loader's identifier, negotiate the programming speed, erase the sectors the
// image needs, write it in 1 KB blocks (blank ones skipped) and restart the
// unit. Runs on the worker thread; Abort comes from another. A failure names
// its cause through Fail; learned holds the loader and the bytes written.
class PcxProcedure : public ProcContext {
  public:
    explicit PcxProcedure(int portNumber);
    // For tests: the link on a given device.
    explicit PcxProcedure(std::unique_ptr<SerialDevice> device);

    // Forgets which sectors were erased. Once per run, before Run.
    void Prepare();
    // The image goes to the unit unless the options say otherwise; a
    // version text starting with a blank is read from its second character.
    int Run(std::span<const std::uint8_t> image, const std::string& version,
            const PcxOptions& options);
    // Stop: ends the run at its next check and cuts a pending reply wait short.
    void Abort();

    FramedLink link;

  private:
    enum class Phase {
        Start,
        Connect,
        VersionCheck,
        Identify,
        Begin,
        SpeedChange,
        EraseAll,
        EraseSectors,
        ProgramSetup,
        Program,
        Finish,
        Done,
        Failed,
    };

    Phase step(Phase phase);
    Phase start();
    Phase connect();
    Phase checkVersion();
    Phase identify();
    Phase begin();
    Phase changeSpeed();
    Phase eraseAll();
    Phase eraseNextSector();
    Phase programSetup();
    Phase programNextBlock();
    Phase finish();
    void rebootAfterFailure();
    // Reads the information lines and checks the loader's identifier; false
    // (with code 5 or 6) when either fails.
    bool readLoaderInfo(LoaderInfo& info);
    // Names why a request did not go through: toDo for a refusal ("erase
    // sector 9"), request for silence and garbage ("the erase of sector 9"),
    // check says what to look at when the unit is silent. A stop needs no reason.
    void failRequest(const LinkResult& result, const std::string& toDo, const std::string& request,
                     const char* check);

    std::array<bool, pcx::kSectorCount> erased_{};

    // The run in progress.
    std::span<const std::uint8_t> image_;
    std::string version_;
    PcxOptions options_;
    int code_ = pcx_code::kNoConnection;
    std::size_t offset_ = 0;
    int speed_ = FramedLink::kBaudRate;
    int connectTries_ = 0;
    LinkResult lastPing_;
    int lastSector_ = pcx::kFirstProgrammableSector;
    int eraseSector_ = pcx::kFirstProgrammableSector;
    std::array<std::uint8_t, FramedLink::kBlockSize> block_{};
};

}  // namespace korvel
