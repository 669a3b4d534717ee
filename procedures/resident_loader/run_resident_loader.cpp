#include "procedures/resident_loader/run_resident_loader.h"

#include "procedures/package_kinds.h"
#include "procedures/resident_loader/resident_loader_procedure.h"

namespace korvel {

static_assert(FindPackageKind(kResidentRelativeKind).baudRate ==
                      ResidentLoaderProcedure::kBaudRate &&
                  FindPackageKind(kResidentAbsoluteKind).baudRate ==
                      ResidentLoaderProcedure::kBaudRate,
              "the kind table states the loader's speed");

Outcome RunResidentLoader(GenericThread& thread) {
    const TFilePro& package = thread.package();
    const char kind = package.kind();
    if (kind != kResidentRelativeKind && kind != kResidentAbsoluteKind) {
        return Outcome{RunResult::DeviceNotSupported, {}, {}, 0};
    }
    // By offset the loader is given the entry's data and the package's two
    // trailer bytes that follow it.
    const bool byOffset = kind == kResidentRelativeKind;
    const auto image = byOffset ? thread.entryImageWithTrailer(0) : thread.entryImage(0);
    const auto addressing = byOffset ? ResidentLoaderProcedure::Addressing::ByOffset
                                     : ResidentLoaderProcedure::Addressing::ByAddress;

    ResidentLoaderProcedure proc(thread.portNumber(), ResidentLoaderProcedure::kLineFlags,
                                 ResidentLoaderProcedure::kBaudRate);
    return proc.Conclude(thread.Drive(
        proc, proc.port, [&] { proc.RequestAbort(); },
        [&] { return proc.Run(image, addressing); }));
}

}  // namespace korvel
