#include "procedures/isp/run_isp.h"

#include "jobs/generic_thread.h"
#include "procedures/isp/isp_procedure.h"

namespace korvel {

namespace {
// 8 data bits, no parity, one stop bit.
constexpr std::uint8_t kIspLineFlags = 0x00;
}  // namespace

RunResult RunIsp(GenericThread& thread) {
    IspProcedure proc(thread.portNumber(), kIspLineFlags, thread.baudRate());
    proc.SetVerify(thread.verifyRequested());
    return thread.Drive(
        proc, proc.port, [&] { proc.RequestAbort(); },
        [&] {
            const TFilePro& package = thread.package();
            return proc.Run({package.entryData(0), static_cast<std::size_t>(package.entrySize(0))});
        });
}

}  // namespace korvel
