#pragma once

#include <cstddef>
#include <vector>

#include "bench/support/host_trace.h"
#include "serial/virtual_serial_device.h"

namespace korvel::bench {

// The shortest time a run's dialogue can take: the same bytes in the same
// order, the board taking exactly the time it took (flash, processing), the
// host's pauses as long as the dialogue makes them, and a host that adds
// nothing: it sends the moment it has what it waited for, and its polls and
// empty reads cost no time. Where the two directions overlap (an echo) the
// line is counted once.
struct ProtocolBound {
    VirtualNs boundNs = 0;
    // What went into it (these overlap, so they do not add up to the bound).
    VirtualNs hostLineNs = 0;   // character times of the host's bytes
    VirtualNs boardLineNs = 0;  // character times of the board's bytes
    VirtualNs boardWaitNs = 0;  // the board's own delays before its bytes
    VirtualNs pauseNs = 0;      // the dialogue's pauses
    // Not in the bound: the host's sleeps while it polled for input.
    VirtualNs pollNs = 0;
};

// Replays the run: the host's steps in program order against the wire log.
// A board byte is taken to react to the last host event (byte complete,
// BREAK, line change) before it started, or to the board's previous byte,
// whichever came later, with the delay it had in the run. Characters are
// taken as 8 data bits, no parity, one stop bit at each event's baud rate.
ProtocolBound ComputeProtocolBound(const std::vector<WireEvent>& wire,
                                   const std::vector<HostStep>& steps);

}  // namespace korvel::bench
