#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace korvel::sim {

// What became of a program the boot loader started with "G".
struct RamProgramOutcome {
    // The program jumped to address 0 with user flash mapped there: the new
    // firmware runs.
    bool reachedUserCode = false;
    // Last value stored to the memory-map register (0: boot loader at 0).
    std::uint32_t memoryMap = 0;
    // Every store to a system-control register: {address, value}.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> registerWrites;
    // Why the program stopped otherwise; empty when it reached address 0.
    std::string fault;
    int steps = 0;
};

// Runs a program from the chip's RAM the way the ARM core would, for the few
// ARM instructions a start-up stub needs: MOV, ADD and SUB with an immediate,
// and word LDR and STR with an immediate offset. Anything else is a fault.
RamProgramOutcome RunRamProgram(std::span<const std::uint8_t> ram, std::uint32_t ramBase,
                                std::uint32_t entry);

}  // namespace korvel::sim
