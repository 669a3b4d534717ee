#include "sim/boot_monitor_model.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace korvel::sim {

namespace {

constexpr VirtualNs kMs = BoardModel::kMs;
constexpr VirtualNs kReplyDelay = 20 * kMs;  // the monitor acting on a command
constexpr VirtualNs kSaveDelay = 200 * kMs;  // writing the environment to flash
constexpr VirtualNs kCountdownStep = 1000 * kMs;
constexpr int kCountdownSeconds = 3;
constexpr VirtualNs kHeartbeat = 2000 * kMs;  // an application that is already running
constexpr std::size_t kMaxLine = 128;         // longer input is not taken (nor echoed)
// A started image reports over a few hundred milliseconds.
constexpr VirtualNs kExecFirstLine = 50 * kMs;
constexpr VirtualNs kExecSecondLine = 100 * kMs;
constexpr VirtualNs kExecLastLine = 300 * kMs;

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return text;
}

bool ParseAddress(const std::string& text, std::uint32_t& address) {
    std::size_t used = 0;
    try {
        const unsigned long long value = std::stoull(text, &used, 0);
        if (used != text.size() || value > UINT32_MAX) {
            return false;
        }
        address = static_cast<std::uint32_t>(value);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    return words;
}

}  // namespace

BootMonitorModel::BootMonitorModel(BootMonitorConfig config) : config_(std::move(config)) {}

void BootMonitorModel::log(const std::string& line) {
    if (logger_) {
        logger_(line);
    }
}

void BootMonitorModel::onLineSettings(VirtualNs at, const LineSettings& settings) {
    if (!powerOnAt_ && settings.baudRate == kConsoleBaud) {
        powerOn(at + config_.powerOnDelay);
    }
}

void BootMonitorModel::powerOn(VirtualNs at) {
    powerOnAt_ = at;
    if (config_.faults.running) {
        state_ = State::Running;
        nextTick_ = at + kHeartbeat;
        log("power on: the application is already running");
        return;
    }
    log("power on: banner, automatic start in " + std::to_string(kCountdownSeconds) + " s");
    state_ = State::Countdown;
    transmitText(at, "\r\nBoard monitor 3.1\r\nBuild date: Mar 12 2009 10:22:41\r\n");
    transmitText(at, config_.faults.buildDateOnly
                         ? "Automatic start in 3 s\r\n"
                         : "Automatic start in 3 s, press any key to stop\r\n");
    secondsLeft_ = kCountdownSeconds;
    nextTick_ = transmitFreeAt() + kCountdownStep;
}

void BootMonitorModel::advanceTo(VirtualNs now) {
    while (state_ == State::Countdown && nextTick_ <= now) {
        if (--secondsLeft_ > 0) {
            transmitText(nextTick_,
                         "Automatic start in " + std::to_string(secondsLeft_) + " s\r\n");
            nextTick_ += kCountdownStep;
        } else {
            transmitText(nextTick_, config_.faults.buildDateOnly ? "Application started\r\n"
                                                                 : "starting application\r\n");
            state_ = State::Running;
            log("automatic start: the application runs");
        }
    }
    while (state_ == State::Running && config_.faults.running && nextTick_ <= now) {
        transmitText(nextTick_, "app: status ok\r\n");
        nextTick_ += kHeartbeat;
    }
    if (state_ == State::Loading && config_.breakSilence > 0 &&
        !config_.faults.ignoreBreak.hits(loadAddress_) &&
        now >= lastRawAt_ + config_.breakSilence) {
        endLoad(lastRawAt_ + config_.breakSilence, "silence");
    }
}

void BootMonitorModel::onByte(VirtualNs at, std::uint8_t byte) {
    if (!powerOnAt_ || at < *powerOnAt_) {
        return;  // switched off: the key press is lost
    }
    switch (state_) {
        case State::Countdown:
            // Any key stops the automatic start; it is not taken as input.
            state_ = State::Prompt;
            log("automatic start stopped by a key");
            if (!config_.faults.noPrompt) {
                transmitText(at, "\r\n" + prompt_);
            }
            break;
        case State::Prompt:
            typed(at, byte);
            break;
        case State::Loading:
            ++loadCount_;
            if (loading_.size() < config_.maxTransferBytes) {
                loading_.push_back(byte);
            }
            lastRawAt_ = std::max(lastRawAt_, at);
            break;
        case State::Off:
        case State::Running:
            break;
    }
}

void BootMonitorModel::onBreak(VirtualNs at, bool on) {
    if (on && state_ == State::Loading && !config_.faults.ignoreBreak.hits(loadAddress_)) {
        endLoad(at, "BREAK");
    }
}

void BootMonitorModel::typed(VirtualNs at, std::uint8_t byte) {
    if (byte == '\r') {
        transmitText(at, "\r\n");
        const std::string line = typed_;
        typed_.clear();
        runCommand(at, line);
    } else if (byte >= 0x20 && byte < 0x7f && typed_.size() < kMaxLine) {
        typed_.push_back(static_cast<char>(byte));
        transmit(at, {byte});
    }
    // A line feed and other control characters are not part of a command.
}

void BootMonitorModel::reply(VirtualNs at, const std::string& text, bool withPrompt) {
    transmitText(at + kReplyDelay, withPrompt ? text + prompt_ : text);
}

void BootMonitorModel::runCommand(VirtualNs at, const std::string& line) {
    const std::vector<std::string> words = Words(line);
    if (words.empty()) {
        if (!config_.faults.noPrompt) {
            transmitText(at, prompt_);
        }
        return;
    }
    commands_.push_back(line);
    log("command: " + line);
    const std::string& name = words[0];
    if (config_.faults.mutedCommands.count(name) != 0) {
        log("  (fault: no answer to " + name + ")");
        return;
    }
    std::uint32_t address = 0;
    if (name == "load" && words.size() == 4 && words[1] == "term" && words[2] == "raw") {
        if (ParseAddress(words[3], address)) {
            startLoad(at, address);
        } else {
            reply(at, "Error: bad address '" + words[3] + "'\r\n");
        }
    } else if (name == "nsave" && words.size() == 1) {
        environmentSaved_ = true;
        transmitText(at + kSaveDelay, "Saving environment... done\r\n" + prompt_);
    } else if (name == "aboot" && words.size() == 4 && words[1] == "flash" && words[2] == "raw" &&
               ParseAddress(words[3], address)) {
        autoStart_ = "flash raw " + Hex(address);
        reply(at, "");
    } else if (name == "prompt" && (words.size() == 2 || words.size() == 3)) {
        prompt_ = words[1] + " ";
        reply(at, "");
    } else if (name == "exec" && words.size() == 2 && ParseAddress(words[1], address)) {
        exec(at, address);
    } else {
        reply(at, "Unknown command '" + name + "'\r\n");
    }
}

void BootMonitorModel::startLoad(VirtualNs at, std::uint32_t address) {
    if (config_.faults.muteLoad.hits(address)) {
        log("  (fault: no answer to the load command)");
        return;
    }
    reply(at, "Ready for raw data to " + Hex(address) + ", end with BREAK\r\n", false);
    state_ = State::Loading;
    loadAddress_ = address;
    loading_.clear();
    loadCount_ = 0;
    lastRawAt_ = transmitFreeAt();
}

void BootMonitorModel::endLoad(VirtualNs at, const std::string& how) {
    state_ = State::Prompt;
    typed_.clear();
    transferEnds_.push_back(how);
    const std::string count = std::to_string(loadCount_);
    if (how == "silence") {
        log("raw transfer to " + Hex(loadAddress_) + " ended by " +
            std::to_string(config_.breakSilence / kMs) +
            " ms of silence (a pty carries no BREAK), " + count + " bytes");
    } else {
        log("raw transfer to " + Hex(loadAddress_) + " ended by " + how + ", " + count + " bytes");
    }
    const bool tooLarge = loadCount_ > config_.maxTransferBytes;
    if (tooLarge || config_.faults.refuse.hits(loadAddress_)) {
        log(tooLarge ? "  refused: larger than the RAM window" : "  (fault: transfer refused)");
        reply(at, "Error: raw load aborted after " + count +
                      " bytes\r\nLoad buffer released successfully\r\n");
        return;
    }
    images_[loadAddress_] = std::move(loading_);
    loading_.clear();
    reply(at, "Loaded " + count + " bytes to " + Hex(loadAddress_) + " successfully\r\n");
}

void BootMonitorModel::exec(VirtualNs at, std::uint32_t address) {
    const auto image = images_.find(address);
    if (image == images_.end()) {
        reply(at, "Error: no image at " + Hex(address) + "\r\n");
        return;
    }
    state_ = State::Running;
    started_ = true;
    log("image at " + Hex(address) + " started");
    transmitText(at + kExecFirstLine, "Starting image at " + Hex(address) + "\r\n");
    transmitText(at + kExecSecondLine,
                 "Image of " + std::to_string(image->second.size()) + " bytes checked\r\n");
    transmitText(at + kExecLastLine,
                 config_.faults.noDone ? "Application running\r\n" : "Done\r\n");
}

}  // namespace korvel::sim
