#include "procedures/isp/run_isp.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "jobs/generic_thread.h"
#include "procedures/isp/flash_image.h"
#include "procedures/isp/isp_plan.h"
#include "procedures/isp/isp_procedure.h"
#include "serial/reset_lines.h"

namespace korvel {

namespace {
// 8 data bits, no parity, one stop bit.
constexpr std::uint8_t kIspLineFlags = 0x00;
}  // namespace

Outcome RunIsp(GenericThread& thread) {
    IspProcedure proc(thread.portNumber(), kIspLineFlags, thread.baudRate());
    proc.SetVerify(thread.verifyRequested());
    return proc.Conclude(thread.Drive(
        proc, proc.port, [&] { proc.RequestAbort(); },
        [&] {
            // The board's own boot loader only answers after a reset with
            // boot-select held; where DTR and RTS are wired, do it here.
            ResetIntoBootLoader(proc.port, thread.resetLines());
            const RunResult result = proc.Run(thread.entryImage(0));
            ResetIntoFirmware(proc.port, thread.resetLines());
            return result;
        }));
}

std::string IspImageProblem(std::span<const std::uint8_t> text) {
    // The whole flash address space: too large for the stack.
    const auto image = std::make_unique<FlashImage>();
    const HexLoad load = image->LoadHex(text);
    return load.ok() ? std::string() : load.what();
}

std::string IspPatchImage(std::vector<std::uint8_t>& text, std::uint32_t at,
                          std::span<const std::uint8_t> bytes) {
    const std::uint64_t end = static_cast<std::uint64_t>(at) + bytes.size();
    char range[64];
    std::snprintf(range, sizeof range, "flash 0x%08X to 0x%08X", static_cast<unsigned>(at),
                  static_cast<unsigned>(std::min<std::uint64_t>(end - 1, UINT32_MAX)));
    if (at < static_cast<std::uint32_t>(kIspBootBlockBytes)) {
        return std::string(range) +
               " reaches into the first 64 bytes: the vectors and their checksum word, which "
               "no check can read back; place the serial number at 0x40 or above";
    }
    const auto image = std::make_unique<FlashImage>();
    std::vector<HexDataRecord> records;
    if (const HexLoad load = image->LoadHex(text, &records); !load.ok()) {
        return load.what();
    }
    if (end > static_cast<std::uint64_t>(FlashImage::kSize) ||
        !PatchHex(text, records, static_cast<std::int32_t>(at), bytes)) {
        return std::string(range) +
               " is not all inside the image's data: place the serial number where the "
               "firmware keeps it";
    }
    return {};
}

}  // namespace korvel
