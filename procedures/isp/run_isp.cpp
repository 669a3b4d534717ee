#include "procedures/isp/run_isp.h"

#include <memory>

#include "jobs/generic_thread.h"
#include "procedures/isp/flash_image.h"
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
            const TFilePro& package = thread.package();
            // The board's own boot loader only answers after a reset with
            // boot-select held; where DTR and RTS are wired, do it here.
            ResetIntoBootLoader(proc.port, thread.resetLines());
            const RunResult result = proc.Run(package.entryImage(0));
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

}  // namespace korvel
