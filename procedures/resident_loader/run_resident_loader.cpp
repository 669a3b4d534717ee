#include "procedures/resident_loader/run_resident_loader.h"

#include <algorithm>
#include <span>

#include "procedures/resident_loader/resident_loader_procedure.h"

namespace korvel {

RunResult RunResidentLoader(GenericThread& thread) {
    const TFilePro& package = thread.package();
    const char kind = package.kind();
    if (kind != kResidentRelativeKind && kind != kResidentAbsoluteKind) {
        return RunResult::DeviceNotSupported;
    }
    // The reader holds each entry's data followed by the package's two
    // trailer bytes; the relative variant is given both.
    const std::uint8_t* data = package.entryData(0);
    const auto size = static_cast<std::size_t>(package.entrySize(0));
    const std::span<const std::uint8_t> held = data != nullptr
                                                   ? std::span(data, size + TFilePro::kTrailerSize)
                                                   : std::span<const std::uint8_t>();
    const std::span<const std::uint8_t> image =
        kind == kResidentRelativeKind ? held : held.first(std::min(size, held.size()));

    ResidentLoaderProcedure proc(thread.portNumber(), ResidentLoaderProcedure::kLineFlags,
                                 ResidentLoaderProcedure::kBaudRate);
    return thread.Drive(
        proc, proc.port, [&] { proc.RequestAbort(); },
        [&] {
            return kind == kResidentRelativeKind ? proc.RunRelative(image)
                                                 : proc.RunAbsolute(image);
        });
}

}  // namespace korvel
