#include "cli/cli_options.h"

#include <charconv>
#include <string>

#include "procedures/package_kinds.h"

namespace korvel::cli {

namespace {

std::optional<int> PositiveNumber(const std::string& text) {
    int value = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size() || value <= 0) {
        return std::nullopt;
    }
    return value;
}

// "COM3", "com3" or "3" name a port number; anything with a "/" is a device path.
bool ParsePort(const std::string& text, CliOptions& options) {
    if (text.find('/') != std::string::npos) {
        options.devicePath = text;
        return true;
    }
    std::string digits = text;
    if (text.size() > 3 && (text.compare(0, 3, "COM") == 0 || text.compare(0, 3, "com") == 0)) {
        digits = text.substr(3);
    }
    options.portNumber = PositiveNumber(digits);
    return options.portNumber.has_value();
}

}  // namespace

std::optional<CliOptions> ParseCliOptions(const std::vector<std::string>& args,
                                          std::string& error) {
    CliOptions options;
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        return options;
    }
    if (args[0] == "--version") {
        options.command = CliOptions::Command::Version;
        return options;
    }
    const std::string& command = args[0];
    if (command == "program") {
        options.command = CliOptions::Command::Program;
    } else if (command == "info") {
        options.command = CliOptions::Command::Info;
    } else if (command == "ports") {
        options.command = CliOptions::Command::Ports;
    } else {
        error = "unknown command '" + command + "'";
        return std::nullopt;
    }
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](const char* name) -> std::optional<std::string> {
            if (i + 1 >= args.size()) {
                error = std::string(name) + " needs a value";
                return std::nullopt;
            }
            return args[++i];
        };
        if (arg == "--help" || arg == "-h") {
            options.command = CliOptions::Command::Help;
            return options;
        }
        if (arg == "--port" && options.command == CliOptions::Command::Program) {
            auto v = value("--port");
            if (!v) {
                return std::nullopt;
            }
            if (!ParsePort(*v, options)) {
                error = "--port takes COM<n>, <n> or a device path, not '" + *v + "'";
                return std::nullopt;
            }
        } else if (arg == "--baud" && options.command == CliOptions::Command::Program) {
            auto v = value("--baud");
            if (!v) {
                return std::nullopt;
            }
            options.baudRate = PositiveNumber(*v);
            if (!options.baudRate) {
                error = "--baud takes a positive number, not '" + *v + "'";
                return std::nullopt;
            }
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            error = "unknown option '" + arg + "' for " + command;
            return std::nullopt;
        } else if (options.command != CliOptions::Command::Ports && options.package.empty()) {
            options.package = arg;
        } else {
            error = "unexpected argument '" + arg + "'";
            return std::nullopt;
        }
    }
    if (options.command != CliOptions::Command::Ports && options.package.empty()) {
        error = command + " needs a package file";
        return std::nullopt;
    }
    return options;
}

std::string UsageText() {
    return R"(Usage:
  korvel-cli program PACKAGE [--port COM<n>|<n>|DEVICE-PATH] [--baud N]
      Program the board on the serial port with the firmware package (.pr2),
      exactly as the Korvel window would. Status texts and progress are shown
      as they change. Packages that need an access code ask for it here.
      Ctrl+C, SIGTERM and SIGHUP ask the procedure to stop (exit code 5); a
      second one, or the first at a prompt, ends at once.
      --port   the port: COM<n> or <n> (mapped to a device by the [PORTS]
               section of korvel.ini, else /dev/ttyS<n-1>), or a device path
               such as /dev/ttyUSB0. Default: SerialPort in korvel.ini.
      --baud   the baud rate of LPC ISP packages (default )" +
           std::to_string(kDefaultBaudRate) + R"().
  korvel-cli info PACKAGE
      Show every entry of a package and the procedure it selects.
  korvel-cli ports
      List the serial devices present and the COM<n> each one is mapped to.
  korvel-cli --help
      This text.
  korvel-cli --version
      The program's version.

Settings: the window's korvel.ini (read here, never written): beside the
executable when it is there or can be made there, else in
$XDG_CONFIG_HOME/korvel/ or ~/.config/korvel/ ('korvel-cli ports' names it).
  [SETTINGS] SerialPort=<n>     default port
  [PORTS]    COM<n>=<device>    map a port number to a device path

Exit codes:
  0  programming succesful          3  device error
  1  the port could not be opened   4  programming error
  2  device not supported           5  aborted (Ctrl+C, a signal)
  64 wrong usage   66 the package does not load   77 wrong access code
)";
}

}  // namespace korvel::cli
