#include "procedures/controller_unit/run_controller_unit.h"

#include "jobs/pcx_options.h"
#include "procedures/controller_unit/pcx_procedure.h"
#include "procedures/package_kinds.h"

namespace korvel {

static_assert(FindPackageKind('G').baudRate == FramedLink::kBaudRate,
              "the kind table states the loader's speed");

RunResult PcxRunResult(int code) {
    switch (code) {
        case pcx_code::kStopped:
            return RunResult::Aborted;
        case pcx_code::kIdentifiedOnly:
        case pcx_code::kSameVersion:
        case pcx_code::kProgrammed:
            return RunResult::Success;
        default:
            return RunResult::ProgrammingError;
    }
}

Outcome RunControllerUnit(GenericThread& thread) {
    PcxProcedure proc(thread.portNumber());
    // Stop goes through Abort, so a pending reply wait ends at once.
    return proc.Conclude(thread.Drive(
        proc, proc.link.port(), [&proc] { proc.Abort(); },
        [&] {
            const TFilePro& package = thread.package();
            const PcxOptions options;
            proc.Prepare();
            const int code = proc.Run(thread.entryImage(0), package.entryVersion(0), options);
            return PcxRunResult(code);
        }));
}

}  // namespace korvel
