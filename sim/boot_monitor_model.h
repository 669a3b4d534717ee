#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/board_model.h"
#include "sim/boot_monitor_faults.h"

namespace korvel::sim {

struct BootMonitorConfig {
    // The operator switches the board on this long after the host first sets
    // the line to the console's baud rate (the only sign of an opened port
    // that a board model gets, on the virtual line and on a pty alike).
    VirtualNs powerOnDelay = 300 * BoardModel::kMs;
    // A pty carries no BREAK. When not 0, a raw transfer also ends once the
    // host has been silent this long after the monitor's ready line or the
    // last raw byte; the host keeps the line quiet for 300 ms or more before
    // its 200 ms BREAK, and its chunks come every 11 ms or so. 0 (the virtual
    // line, which delivers the BREAK itself): only a BREAK ends a transfer.
    VirtualNs breakSilence = 0;
    // The RAM window a raw transfer may fill; more is refused.
    std::size_t maxTransferBytes = 16u << 20;
    BootMonitorFaults faults;
};

// A board whose processor runs a text boot monitor, from the board's side.
// Power on prints a banner and counts down an automatic start that any key
// stops; the monitor then echoes what is typed and runs each line on "\r":
//   load term raw ADDR   receive raw bytes until a BREAK, then report
//   nsave                save the environment
//   aboot flash raw ADDR start automatically from ADDR
//   prompt TEXT 1        change the prompt
//   exec ADDR            start the image loaded at ADDR
// Every accepted raw image is kept per load address for comparison.
class BootMonitorModel : public BoardModel {
  public:
    static constexpr int kConsoleBaud = 115200;

    explicit BootMonitorModel(BootMonitorConfig config = {});

    // Receives a line for each notable event (power on, commands, how a
    // transfer ended), when set.
    void setLogger(std::function<void(const std::string&)> logger) { logger_ = std::move(logger); }

    const std::map<std::uint32_t, std::vector<std::uint8_t>>& images() const { return images_; }
    // Every command line the monitor ran, in order, as it was typed.
    const std::vector<std::string>& commands() const { return commands_; }
    // How each raw transfer ended: "BREAK" or "silence".
    const std::vector<std::string>& transferEnds() const { return transferEnds_; }
    bool environmentSaved() const { return environmentSaved_; }
    const std::string& autoStart() const { return autoStart_; }
    const std::string& prompt() const { return prompt_; }
    bool started() const { return started_; }

  protected:
    void advanceTo(VirtualNs now) override;
    void onByte(VirtualNs at, std::uint8_t byte) override;
    void onBreak(VirtualNs at, bool on) override;
    void onLineSettings(VirtualNs at, const LineSettings& settings) override;

  private:
    enum class State { Off, Countdown, Prompt, Loading, Running };

    void powerOn(VirtualNs at);
    void typed(VirtualNs at, std::uint8_t byte);
    void runCommand(VirtualNs at, const std::string& line);
    void startLoad(VirtualNs at, std::uint32_t address);
    void endLoad(VirtualNs at, const std::string& how);
    void exec(VirtualNs at, std::uint32_t address);
    // A reply after the monitor's time to act on a command, then the prompt.
    void reply(VirtualNs at, const std::string& text, bool withPrompt = true);
    void log(const std::string& line);

    BootMonitorConfig config_;
    std::function<void(const std::string&)> logger_;
    State state_ = State::Off;
    std::optional<VirtualNs> powerOnAt_;
    VirtualNs nextTick_ = 0;
    int secondsLeft_ = 0;

    std::string typed_;
    std::string prompt_ = "> ";

    std::uint32_t loadAddress_ = 0;
    std::vector<std::uint8_t> loading_;
    std::size_t loadCount_ = 0;
    VirtualNs lastRawAt_ = 0;

    std::map<std::uint32_t, std::vector<std::uint8_t>> images_;
    std::vector<std::string> commands_;
    std::vector<std::string> transferEnds_;
    bool environmentSaved_ = false;
    std::string autoStart_;
    bool started_ = false;
};

}  // namespace korvel::sim
