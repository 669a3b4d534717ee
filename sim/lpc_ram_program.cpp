#include "sim/lpc_ram_program.h"

#include <cstdio>

namespace korvel::sim {

namespace {

constexpr std::uint32_t kMemoryMapRegister = 0xE01FC040;
constexpr std::uint32_t kSystemControlBase = 0xE01FC000;
constexpr std::uint32_t kSystemControlSize = 0x4000;
constexpr std::uint32_t kUserFlashMapped = 1;
constexpr std::uint32_t kAlways = 0xE;
constexpr int kMaxSteps = 1000;
constexpr int kPc = 15;

std::string Hex(std::uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", v);
    return text;
}

std::uint32_t RotateRight(std::uint32_t v, unsigned n) {
    n &= 31;
    return n == 0 ? v : (v >> n) | (v << (32 - n));
}

class Core {
  public:
    Core(std::span<const std::uint8_t> ram, std::uint32_t ramBase)
        : ram_(ram.begin(), ram.end()), ramBase_(ramBase) {}

    RamProgramOutcome run(std::uint32_t entry) {
        pc_ = entry;
        while (out_.fault.empty()) {
            if (out_.steps == kMaxSteps) {
                out_.fault =
                    "did not reach address 0 within " + std::to_string(kMaxSteps) + " instructions";
                break;
            }
            std::uint32_t instruction = 0;
            if (!load(pc_, instruction)) {
                out_.fault = "fetch from unmapped address " + Hex(pc_);
                break;
            }
            ++out_.steps;
            step(instruction);
            if (out_.fault.empty() && pc_ == 0) {
                out_.reachedUserCode = out_.memoryMap == kUserFlashMapped;
                if (!out_.reachedUserCode) {
                    out_.fault = "jumped to 0 with memory map " + std::to_string(out_.memoryMap);
                }
                break;
            }
        }
        return out_;
    }

  private:
    std::uint32_t reg(std::uint32_t n) const { return n == kPc ? pc_ + 8 : r_[n]; }

    bool inRam(std::uint32_t address) const {
        return address >= ramBase_ && address - ramBase_ + 4 <= ram_.size();
    }

    bool load(std::uint32_t address, std::uint32_t& value) const {
        if (address % 4 != 0 || !inRam(address)) {
            return false;
        }
        const std::size_t i = address - ramBase_;
        value = static_cast<std::uint32_t>(ram_[i]) | static_cast<std::uint32_t>(ram_[i + 1]) << 8 |
                static_cast<std::uint32_t>(ram_[i + 2]) << 16 |
                static_cast<std::uint32_t>(ram_[i + 3]) << 24;
        return true;
    }

    bool store(std::uint32_t address, std::uint32_t value) {
        if (address % 4 != 0) {
            return false;
        }
        if (address >= kSystemControlBase && address - kSystemControlBase < kSystemControlSize) {
            out_.registerWrites.emplace_back(address, value);
            if (address == kMemoryMapRegister) {
                out_.memoryMap = value & 3;
            }
            return true;
        }
        if (!inRam(address)) {
            return false;
        }
        const std::size_t i = address - ramBase_;
        for (int b = 0; b < 4; ++b) {
            ram_[i + static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(value >> (8 * b));
        }
        return true;
    }

    void write(std::uint32_t rd, std::uint32_t value) {
        if (rd == kPc) {
            pc_ = value;
        } else {
            r_[rd] = value;
            pc_ += 4;
        }
    }

    void step(std::uint32_t w) {
        const std::uint32_t rn = (w >> 16) & 0xF;
        const std::uint32_t rd = (w >> 12) & 0xF;
        if (w >> 28 != kAlways) {
            out_.fault = "conditional instruction " + Hex(w) + " at " + Hex(pc_);
        } else if ((w & 0x0E000000) == 0x02000000) {
            // Data processing with an 8-bit immediate rotated by an even amount.
            const std::uint32_t imm = RotateRight(w & 0xFF, ((w >> 8) & 0xF) * 2);
            switch ((w >> 21) & 0xF) {
                case 0xD:  // MOV
                    write(rd, imm);
                    break;
                case 0x4:  // ADD
                    write(rd, reg(rn) + imm);
                    break;
                case 0x2:  // SUB
                    write(rd, reg(rn) - imm);
                    break;
                default:
                    out_.fault = "unsupported instruction " + Hex(w) + " at " + Hex(pc_);
            }
        } else if ((w & 0x0E000000) == 0x04000000 && (w & (1u << 24)) != 0 &&
                   (w & (1u << 22)) == 0 && (w & (1u << 21)) == 0) {
            // Word transfer, immediate offset, pre-indexed, no write-back.
            const std::uint32_t offset = w & 0xFFF;
            const std::uint32_t address =
                (w & (1u << 23)) != 0 ? reg(rn) + offset : reg(rn) - offset;
            if ((w & (1u << 20)) != 0) {
                std::uint32_t value = 0;
                if (!load(address, value)) {
                    out_.fault = "load from " + Hex(address) + " at " + Hex(pc_);
                    return;
                }
                write(rd, value);
            } else {
                if (!store(address, reg(rd))) {
                    out_.fault = "store to " + Hex(address) + " at " + Hex(pc_);
                    return;
                }
                pc_ += 4;
            }
        } else {
            out_.fault = "unsupported instruction " + Hex(w) + " at " + Hex(pc_);
        }
    }

    std::vector<std::uint8_t> ram_;
    std::uint32_t ramBase_;
    std::uint32_t r_[16] = {};
    std::uint32_t pc_ = 0;
    RamProgramOutcome out_;
};

}  // namespace

RamProgramOutcome RunRamProgram(std::span<const std::uint8_t> ram, std::uint32_t ramBase,
                                std::uint32_t entry) {
    return Core(ram, ramBase).run(entry);
}

}  // namespace korvel::sim
