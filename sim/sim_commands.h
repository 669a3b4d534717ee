#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sim/board_model.h"

namespace korvel::sim {

// What `korvel-sim <model> ...` was asked for.
struct ServeOptions {
    bool paced = false;
    std::vector<std::string> faults;           // --fault F, repeatable
    std::string flashOut;                      // --flash-out FILE: memory dump at the end
    std::string link;                          // --link PATH: symlink to the pty
    std::optional<unsigned> latencyMs;         // --latency-ms N: a USB adapter in front
    std::map<std::string, std::string> extra;  // any other --key value, model-specific
};

// A model ready to serve, and what to do when serving ends (write the dump).
struct ServedModel {
    std::unique_ptr<BoardModel> model;
    std::function<void()> finish;
};

struct SimCommand {
    const char* name;
    const char* usage;  // the model's own options, for --help
    // Null model and a reason in `error` for options the model does not take.
    std::function<ServedModel(const ServeOptions& options, std::string& error)> make;
};

// One row per board model that korvel-sim can serve.
std::span<const SimCommand> SimCommands();

}  // namespace korvel::sim
