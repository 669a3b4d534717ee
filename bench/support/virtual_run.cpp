#include "bench/support/virtual_run.h"

#include <memory>
#include <vector>

#include "bench/support/host_trace.h"
#include "jobs/generic_thread.h"
#include "jobs/ui_handover.h"
#include "procedures/package_kinds.h"
#include "serial/port_resolver.h"

namespace korvel::bench {

namespace {

// The port number the bench registers its virtual line under.
constexpr int kBenchPort = 1;

// No user interface: hand-overs run on the worker at once, as an idle UI
// thread would run them.
class InlineHandover : public UiHandover {
  public:
    void Synchronize(const std::function<void()>& step) override { step(); }
    void Post(std::function<void()> step) override { step(); }
};

}  // namespace

VirtualRun ProgramVirtually(const TFilePro& package, VirtualLineEnd& board, int baudRate) {
    std::vector<WireEvent> wire;
    std::vector<HostStep> steps;
    VirtualNs endNs = 0;
    PortResolver::instance().registerDevice(kBenchPort, [&]() -> std::unique_ptr<SerialDevice> {
        VirtualSerialDevice::Options options;
        options.paced = true;
        options.wireLog = &wire;
        options.path = "virtual line";
        return std::make_unique<HostTraceDevice>(
            std::make_unique<VirtualSerialDevice>(board, options), wire, steps, endNs);
    });

    VirtualRun run;
    {
        InlineHandover handover;
        GenericThread thread(handover, nullptr, StandardDrivers());
        thread.OnFinished = [&](const Outcome& outcome) { run.result = outcome.result; };
        thread.Setup(package, nullptr, baudRate, nullptr, kBenchPort);
        thread.Start();
        // Leaving the scope waits for the worker.
    }
    PortResolver::instance().unregisterDevice(kBenchPort);

    run.runNs = endNs;
    for (const WireEvent& e : wire) {
        run.hostBytes += e.kind == WireEvent::Kind::HostByte ? 1 : 0;
        run.boardBytes += e.kind == WireEvent::Kind::BoardByte ? 1 : 0;
    }
    run.bound = ComputeProtocolBound(wire, steps);
    return run;
}

}  // namespace korvel::bench
