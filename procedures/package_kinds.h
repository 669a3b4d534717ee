#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "jobs/generic_thread.h"
#include "procedures/boot_monitor/run_boot_monitor.h"
#include "procedures/controller_unit/run_controller_unit.h"
#include "procedures/isp/run_isp.h"
#include "procedures/resident_loader/run_resident_loader.h"

namespace korvel {

// The speeds the Baud Rate box offers; the first is the default, also for
// korvel-cli without --baud.
inline constexpr std::array kBaudRateChoices{38400, 19200, 9600};
inline constexpr int kDefaultBaudRate = kBaudRateChoices[0];

// What the user types before a run of a kind that needs the access code.
inline constexpr const char* kAccessCode = "kzt";

// What a package's kind character means, everywhere: which procedure runs it,
// whether it can be stopped and drives the reset lines, which of the window's
// boxes show, whether the access code is asked first, and the speed its run
// starts at. No front end names a procedure or knows one's habits but here.
struct PackageKind {
    char kind;
    // What the kind is programmed with (for listings and messages), and its
    // driver; both null for a kind without a procedure, whose runs end
    // DeviceNotSupported.
    const char* procedure;
    Driver driver;
    // Stop reaches the procedure; otherwise its run always goes to its end.
    bool stoppable;
    // The run resets the board through the port's DTR and RTS as the
    // settings wire them, so the wiring must read before it starts.
    bool usesResetLines;
    bool showsComPort;
    // The run takes its speed from the Baud Rate box.
    bool showsBaudRate;
    bool needsAccessCode;
    // The line speed a run starts at: the box's default for kinds with the
    // box, the procedure's own otherwise; 0 without a procedure.
    int baudRate;
    // What is wrong with entry 0 for this procedure, found before any board
    // is touched (empty: nothing); null where any bytes will do.
    std::string (*imageProblem)(std::span<const std::uint8_t> image) = nullptr;
    // Writes a serial number's bytes into entry 0's data at `at` (empty: done,
    // else why not, the data as it was); null where the kind takes none.
    std::string (*patchImage)(std::vector<std::uint8_t>& image, std::uint32_t at,
                              std::span<const std::uint8_t> bytes) = nullptr;
};

// The patch of kinds whose image goes onto the board byte for byte: `at` is
// an offset into entry 0's data.
std::string PatchImageAt(std::vector<std::uint8_t>& image, std::uint32_t at,
                         std::span<const std::uint8_t> bytes);

// Adding a kind is adding a row (see docs/architecture.md for the checklist).
// clang-format off
inline constexpr std::array kPackageKinds{
    //          kind  procedure                                   driver             stop   reset  COM    baud   code   speed             image check      serial number
    PackageKind{'\'', "LPC ISP boot loader",                      RunIsp,            true,  true,  true,  true,  false, kDefaultBaudRate, IspImageProblem, IspPatchImage},
    PackageKind{'F',  "LPC ISP boot loader",                      RunIsp,            true,  true,  true,  true,  false, kDefaultBaudRate, IspImageProblem, IspPatchImage},
    PackageKind{kResidentRelativeKind, "resident loader, blocks by image offset",
                                                                  RunResidentLoader, true,  false, true,  false, false, 57600,            nullptr,         PatchImageAt},
    PackageKind{kResidentAbsoluteKind, "resident loader, blocks by flash address",
                                                                  RunResidentLoader, true,  false, true,  false, false, 57600,            nullptr,         PatchImageAt},
    PackageKind{'G',  "controller unit boot loader",              RunControllerUnit, true,  false, true,  false, false, 57600,            nullptr,         PatchImageAt},
    PackageKind{'9',  "boot monitor",                             RunBootMonitor,    false, false, true,  false, false, 115200,           nullptr,         PatchImageAt},
    // Kinds of other boards: the window offers their controls, no procedure runs them.
    PackageKind{',',  nullptr,                                    nullptr,           true,  false, true,  true,  false, kDefaultBaudRate},
    PackageKind{'-',  nullptr,                                    nullptr,           true,  false, true,  true,  false, kDefaultBaudRate},
    PackageKind{'0',  nullptr,                                    nullptr,           true,  false, true,  true,  false, kDefaultBaudRate},
    PackageKind{'=',  nullptr,                                    nullptr,           true,  false, true,  true,  false, kDefaultBaudRate},
    PackageKind{'D',  nullptr,                                    nullptr,           true,  false, true,  true,  false, kDefaultBaudRate},
    PackageKind{'4',  nullptr,                                    nullptr,           true,  false, false, false, false, 0},
    PackageKind{'5',  nullptr,                                    nullptr,           true,  false, false, false, false, 0},
    PackageKind{'7',  nullptr,                                    nullptr,           true,  false, true,  false, true,  0},
};
// clang-format on

// Any kind not in the table, and no package at all (kind 0).
inline constexpr PackageKind kOtherPackageKind{0,    nullptr, nullptr, true, false,
                                               true, false,   false,   0};

constexpr const PackageKind& FindPackageKind(char kind) {
    for (const PackageKind& row : kPackageKinds) {
        if (row.kind == kind && kind != 0) {
            return row;
        }
    }
    return kOtherPackageKind;
}

// The driver table of the kinds that have a procedure, for GenericThread.
std::span<const DriverEntry> StandardDrivers();

}  // namespace korvel
