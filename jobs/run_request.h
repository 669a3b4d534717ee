#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "jobs/verify_mode.h"
#include "package/tfilepro.h"
#include "serial/reset_lines.h"

namespace korvel {

// One port of a run, as the user named it and as the run opens it.
struct RunPort {
    std::string name;  // "COM3", a device path or an adapter, for messages and the record
    int number = 1;    // the resolver's number for it
    // The device behind it for the record; empty: as the resolver names it.
    std::string device;
    // The board's own id from outside (its label, a scanner), for the record;
    // empty: none given. (Initialised, so a port written as {name, number,
    // device} need not name it.)
    std::string boardId = {};
    // The board's serial number, when the run writes one into its image.
    std::optional<std::uint64_t> serial = {};
    // Entry 0 as this board gets it, the serial number written in: the data
    // and the two trailer bytes; null: the package's own. And its SHA-256.
    std::shared_ptr<const std::vector<std::uint8_t>> image = {};
    std::string imageSha256 = {};
};

// Everything a run is handed: the package as it was loaded, and how to reach
// and program the boards. Made by one function for every front end
// (PrepareRun); one board is a request with one port.
struct RunRequest {
    // Loaded; holds the bytes the runs program and must stay loaded until
    // every run has ended.
    const TFilePro* package = nullptr;
    std::string packagePath;
    // Of the bytes the package was loaded from (TFilePro::sha256()).
    std::string packageSha256;
    char kind = 0;
    std::vector<RunPort> ports;
    int baudRate = 0;
    // How every board's reset hangs on its port's DTR and RTS.
    ResetLines resetLines;
    // How the written flash is checked, where the kind's loader can.
    VerifyMode verify = VerifyMode::None;
    // Of entry 0's data as the package has it: the image a board without a
    // serial number gets.
    std::string imageSha256 = {};
};

}  // namespace korvel
