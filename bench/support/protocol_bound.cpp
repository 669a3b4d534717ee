#include "bench/support/protocol_bound.h"

#include <algorithm>

namespace korvel::bench {

namespace {

VirtualNs CharacterNs(const WireEvent& e) {
    return CharacterTimeNs(LineSettings{e.baudRate});
}

bool IsHostEvent(WireEvent::Kind kind) {
    return kind != WireEvent::Kind::BoardByte;
}

// A host event on the wire: when it happened in the run and in the replay.
struct Moment {
    VirtualNs actual;
    VirtualNs ideal;
};

class Replay {
  public:
    explicit Replay(const std::vector<WireEvent>& wire) : wire_(wire) {
        for (std::size_t i = 0; i < wire.size(); ++i) {
            if (wire[i].kind == WireEvent::Kind::BoardByte) {
                boardIndex_.push_back(i);
            }
        }
    }

    void emit(std::size_t wireEnd) {
        for (; nextWire_ < std::min(wireEnd, wire_.size()); ++nextWire_) {
            const WireEvent& e = wire_[nextWire_];
            if (!IsHostEvent(e.kind)) {
                continue;
            }
            VirtualNs at = std::max(host_, hostLane_);
            if (e.kind == WireEvent::Kind::HostByte) {
                const VirtualNs c = CharacterNs(e);
                at += c;
                hostLane_ = at;
                result_.hostLineNs += c;
            }
            hostEvents_.push_back({e.at, at});
        }
    }

    void pause(VirtualNs ns, bool poll) {
        if (poll) {
            result_.pollNs += ns;
        } else {
            host_ += ns;
            result_.pauseNs += ns;
        }
    }

    void consume(std::size_t boardByte) {
        if (boardByte >= boardIndex_.size()) {
            return;
        }
        while (boardIdealEnd_.size() <= boardByte) {
            placeNextBoardByte();
        }
        host_ = std::max(host_, boardIdealEnd_[boardByte]);
    }

    ProtocolBound finish() {
        result_.boundNs = host_;
        return result_;
    }

  private:
    void placeNextBoardByte() {
        const WireEvent& e = wire_[boardIndex_[boardIdealEnd_.size()]];
        const VirtualNs c = CharacterNs(e);
        const VirtualNs start = e.at >= c ? e.at - c : 0;
        // The host event the byte answers: the last one complete when it began.
        const auto after =
            std::upper_bound(hostEvents_.begin(), hostEvents_.end(), start,
                             [](VirtualNs t, const Moment& m) { return t < m.actual; });
        const Moment trigger = after == hostEvents_.begin() ? Moment{0, 0} : *std::prev(after);
        const VirtualNs readyActual = std::max(trigger.actual, boardActualEnd_);
        const VirtualNs delay = start > readyActual ? start - readyActual : 0;
        const VirtualNs readyIdeal = std::max(trigger.ideal, boardLane_);
        boardLane_ = readyIdeal + delay + c;
        boardActualEnd_ = e.at;
        boardIdealEnd_.push_back(boardLane_);
        result_.boardWaitNs += delay;
        result_.boardLineNs += c;
    }

    const std::vector<WireEvent>& wire_;
    std::vector<std::size_t> boardIndex_;
    std::size_t nextWire_ = 0;
    std::vector<Moment> hostEvents_;
    std::vector<VirtualNs> boardIdealEnd_;
    VirtualNs host_ = 0;      // the ideal host's clock
    VirtualNs hostLane_ = 0;  // the host's side of the line is free from then
    VirtualNs boardLane_ = 0;
    VirtualNs boardActualEnd_ = 0;
    ProtocolBound result_;
};

}  // namespace

ProtocolBound ComputeProtocolBound(const std::vector<WireEvent>& wire,
                                   const std::vector<HostStep>& steps) {
    Replay replay(wire);
    for (const HostStep& step : steps) {
        switch (step.kind) {
            case HostStep::Kind::Emit:
                replay.emit(step.wireEnd);
                break;
            case HostStep::Kind::Pause:
                replay.pause(step.ns, step.poll);
                break;
            case HostStep::Kind::Consume:
                replay.consume(step.boardByte);
                break;
        }
    }
    return replay.finish();
}

}  // namespace korvel::bench
