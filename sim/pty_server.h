#pragma once

#include <atomic>
#include <optional>
#include <string>

#include "sim/board_model.h"
#include "sim/usb_adapter.h"

namespace korvel::sim {

// Serves a board model on a pseudo-terminal in real time, so the real
// programs can talk to it as to a board on a serial port. The model hears the
// host's bytes when they come out of the pty (spaced at the line rate when
// paced) and its answers are written when their time has come. Baud-rate
// changes the host makes on its side are passed on to the model.
//
// A pty carries no BREAK condition: a host's break never reaches the model.
class PtyServer {
  public:
    // linkPath: when not empty, a symlink to the pty's device is made there.
    // adapterLatency: when set, the board's answers pass a USB adapter model
    // with that latency timer on their way to the host.
    PtyServer(BoardModel& model, std::string linkPath, bool paced,
              std::optional<VirtualNs> adapterLatency = std::nullopt);
    ~PtyServer();

    PtyServer(const PtyServer&) = delete;
    PtyServer& operator=(const PtyServer&) = delete;

    const std::string& devicePath() const { return slavePath_; }

    // Serves until stop becomes true.
    void run(const std::atomic<bool>& stop);

  private:
    VirtualNs now() const;
    void pollLineSettings(VirtualNs at);

    BoardModel& model_;
    std::optional<UsbAdapterModel> adapter_;
    // The model, or the adapter in front of it.
    VirtualLineEnd& lineEnd_;
    std::string linkPath_;
    bool paced_;
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
    LineSettings line_;
    VirtualNs lastHostByte_ = 0;
    std::int64_t startNs_ = 0;
};

}  // namespace korvel::sim
