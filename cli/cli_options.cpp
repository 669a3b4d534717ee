#include "cli/cli_options.h"

#include <set>
#include <string>

#include "package/printable_text.h"
#include "procedures/package_kinds.h"
#include "procedures/run_preparation.h"
#include "serial/usb_port_info.h"
#include "util/decimal.h"

namespace korvel::cli {

namespace {

std::optional<int> PositiveNumber(const std::string& text) {
    const auto value = ParseDecimal<int>(text);
    return value && *value > 0 ? value : std::nullopt;
}

// "COM3", "com3" or "3" name a port number; anything with a "/" is a device
// path, and usb:VID:PID[:SERIAL] names an adapter.
bool ParsePort(const std::string& text, CliOptions& options) {
    if (text.find('/') != std::string::npos || ParseUsbPortSpec(text)) {
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

// The same port however it was spelt: COM3, com3 and 3 are one port, and
// adapter ids are hex digits in either case.
std::string PortKey(const std::string& text, const CliOptions& parsed) {
    if (const auto usb = ParseUsbPortSpec(text)) {
        return kUsbPortPrefix + usb->vendorId + ":" + usb->productId + ":" + usb->serial;
    }
    if (!parsed.devicePath.empty()) {
        return text;
    }
    return "COM" + std::to_string(*parsed.portNumber);
}

std::optional<CliOptions> Parse(const std::vector<std::string>& args, std::string& error) {
    CliOptions options;
    std::set<std::string> portKeys;  // of the ports given so far
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
    } else if (command == "identify") {
        options.command = CliOptions::Command::Identify;
    } else {
        error = "unknown command '" + command + "'";
        return std::nullopt;
    }
    // The commands that reach a board.
    const bool board = options.command == CliOptions::Command::Program ||
                       options.command == CliOptions::Command::Identify;
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
        if (arg == "--port" && board) {
            auto v = value("--port");
            if (!v) {
                return std::nullopt;
            }
            CliOptions parsed;
            if (!ParsePort(*v, parsed)) {
                error = "--port takes COM<n>, <n>, a device path or usb:VID:PID[:SERIAL], not '" +
                        *v + "'";
                return std::nullopt;
            }
            if (!portKeys.insert(PortKey(*v, parsed)).second) {
                error = "the port " + *v + " is given twice";
                return std::nullopt;
            }
            if (options.command == CliOptions::Command::Identify && !options.ports.empty()) {
                error = "identify takes one --port";
                return std::nullopt;
            }
            ParsePort(*v, options);
            options.ports.push_back(*v);
        } else if (arg == "--baud" && board) {
            auto v = value("--baud");
            if (!v) {
                return std::nullopt;
            }
            options.baudRate = PositiveNumber(*v);
            if (!options.baudRate) {
                error = "--baud takes a positive number, not '" + *v + "'";
                return std::nullopt;
            }
        } else if (arg == "--reset-lines" && board) {
            auto v = value("--reset-lines");
            if (!v) {
                return std::nullopt;
            }
            options.resetLines = ParseResetLines(*v, error);
            if (!options.resetLines) {
                error = "--reset-lines: " + error;
                return std::nullopt;
            }
        } else if (arg == "--json" && board) {
            options.json = true;
        } else if ((arg == "--verify" || arg.starts_with("--verify=")) &&
                   options.command == CliOptions::Command::Program) {
            const std::string mode = arg == "--verify" ? "compare" : arg.substr(9);
            if (mode == "compare") {
                options.verify = VerifyMode::Compare;
            } else if (mode == "readback") {
                options.verify = VerifyMode::Readback;
            } else {
                error = "--verify takes compare or readback, not '" + mode + "'";
                return std::nullopt;
            }
        } else if (arg == "--board-id" && options.command == CliOptions::Command::Program) {
            auto v = value("--board-id");
            if (!v) {
                return std::nullopt;
            }
            if (v->empty()) {
                error = "--board-id needs the board's id";
                return std::nullopt;
            }
            options.boardId = *v;
        } else if (arg == "--board-ids" && options.command == CliOptions::Command::Program) {
            auto v = value("--board-ids");
            if (!v) {
                return std::nullopt;
            }
            if (*v != "-") {
                error = "--board-ids takes - (one line per board from standard input), not '" + *v +
                        "'";
                return std::nullopt;
            }
            options.boardIdsFromInput = true;
        } else if (arg == "--expect-sha256" && options.command == CliOptions::Command::Program) {
            auto v = value("--expect-sha256");
            if (!v) {
                return std::nullopt;
            }
            if (!IsSha256Hex(*v)) {
                error = "--expect-sha256 takes the package's SHA-256 as 64 hex digits, not '" + *v +
                        "'";
                return std::nullopt;
            }
            options.expectSha256 = *v;
        } else if (arg == "--serial" && options.command == CliOptions::Command::Program) {
            auto v = value("--serial");
            if (!v) {
                return std::nullopt;
            }
            options.serial = ParseSerialPlace(*v, error);
            if (!options.serial) {
                error = "--serial: " + error;
                return std::nullopt;
            }
        } else if (arg == "--serial-counter" && options.command == CliOptions::Command::Program) {
            auto v = value("--serial-counter");
            if (!v) {
                return std::nullopt;
            }
            if (v->empty()) {
                error = "--serial-counter needs the counter file's name";
                return std::nullopt;
            }
            options.serialCounter = *v;
        } else if (arg == "--record" && options.command == CliOptions::Command::Program) {
            auto v = value("--record");
            if (!v) {
                return std::nullopt;
            }
            if (v->empty()) {
                error = "--record needs a file name: a station does not run without its record";
                return std::nullopt;
            }
            options.recordFile = *v;
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
    if (!options.boardId.empty() && (options.boardIdsFromInput || options.ports.size() > 1)) {
        error = "--board-id names one board: with several ports give --board-ids -";
        return std::nullopt;
    }
    if (!options.serialCounter.empty() && !options.serial) {
        error = "--serial-counter needs --serial AT:FORMAT: where the number goes";
        return std::nullopt;
    }
    if (options.serial && options.serialCounter.empty() && options.boardId.empty() &&
        !options.boardIdsFromInput) {
        error =
            "--serial needs the numbers: --serial-counter FILE, or the board ids "
            "(--board-id, --board-ids -)";
        return std::nullopt;
    }
    if (options.command == CliOptions::Command::Identify && !options.package.empty()) {
        error = "identify takes no package, not '" + options.package + "'";
        return std::nullopt;
    }
    if (options.command != CliOptions::Command::Ports &&
        options.command != CliOptions::Command::Identify && options.package.empty()) {
        error = command + " needs a package file";
        return std::nullopt;
    }
    return options;
}

}  // namespace

std::optional<CliOptions> ParseCliOptions(const std::vector<std::string>& args,
                                          std::string& error) {
    auto options = Parse(args, error);
    // The error quotes what was typed: escaped, it cannot move a terminal's cursor.
    error = PrintableText(error);
    return options;
}

std::optional<int> PortNumber(const std::string& port) {
    CliOptions parsed;
    if (!ParsePort(port, parsed) || !parsed.devicePath.empty()) {
        return std::nullopt;
    }
    return parsed.portNumber;
}

std::string UsageText() {
    return R"(Usage:
  korvel-cli program PACKAGE [--port PORT]... [--baud N] [--json]
                             [--record FILE] [--verify[=compare|readback]]
                             [--board-id TEXT | --board-ids -]
                             [--expect-sha256 HEX]
                             [--serial AT:FORMAT [--serial-counter FILE]]
                             [--reset-lines none|dtr-rts[,OPTION]...]
      Program the board on the serial port with the firmware package (.pr2),
      exactly as the Korvel window would. Status texts and progress are shown
      as they change. Packages that need an access code ask for it here.
      Ctrl+C, SIGTERM and SIGHUP ask the procedure to stop (exit code 5); a
      second one, or the first at a prompt, ends at once.
      --port   the port: COM<n> or <n> (mapped to a device by the [PORTS]
               section of korvel.ini, else /dev/ttyS<n-1>), a device path
               such as /dev/ttyUSB0 or /dev/serial/by-id/..., or the adapter
               as usb:VID:PID[:SERIAL] ('korvel-cli ports' shows it).
               Default: SerialPort in korvel.ini. Give it once per board to
               program several boards at once (one live line each; Ctrl+C
               stops them all); the same port twice is a usage error.
      --baud   the baud rate of LPC ISP packages (default )" +
           std::to_string(kDefaultBaudRate) + R"().
      --reset-lines  how an LPC board's reset hangs on the port: none (put
               the board in its boot loader by hand), or dtr-rts: DTR drives
               RESET and RTS the boot-select pin P0.14; the run resets the
               board into its boot loader and, at the end, into the new
               firmware. Options: invert-reset, invert-boot (the pin is
               asserted with the line inactive), hold=MS (reset pulse,
               default 100), settle=MS (before the first byte, default 100).
               Default: ResetLines in korvel.ini, else none.
      --json   print one JSON object per board on stdout as its run ends
               (port, device, package, package_sha256, kind, name, version,
               chip, part_id, part_id_hex, boot_code, result, result_name,
               status, message, start, duration_s, verify, verified,
               image_sha256, serial, serial_void); human output goes to
               stderr then.
      --board-id  the board's own id (its label) into its record as board_id.
      --board-ids -  read one id per board from standard input, one line
               each, in the order of the ports, before the boards start (a
               barcode scanner types a line); the program is refused (64)
               when the input ends first or a line is empty.
      --expect-sha256  the SHA-256 of the only package this station may
               program (as the records' package_sha256 gives it); another
               package is refused with 66 before any board is touched.
               Default: ExpectSha256 in korvel.ini, else any package.
      --serial AT:FORMAT  write each board's serial number into its copy of
               the image: AT is a flash address (LPC ISP packages, 0x40 and
               above) or an offset into the image (other kinds), decimal or
               0x-hex, and must lie inside the image's data; FORMAT is u32le,
               u32be or ascii:N (decimal, zero-padded to N digits). The
               number is the board id, or from --serial-counter. Refused (64)
               before any board is touched when it does not fit. The record
               gives serial, image_sha256 (the image as programmed) and
               serial_void (the board failed: its number is spent).
      --serial-counter FILE  take the numbers from FILE, which holds the
               next one (create it with the first): the boards get
               consecutive numbers in port order, and FILE is advanced and
               on the disk before any board is touched, so no number is
               ever handed out twice. Stations may share FILE.
      --record append that line for every board to FILE, on the disk before
               the board's result is shown; several processes may share FILE.
      --verify check the written flash where the loader can (the LPC ISP
               boot loader; the first 64 bytes, where the loader shows its
               boot block, are left out): the chip compares each block with
               the RAM copy it was written from, right after writing it
               (--verify=compare, the same as --verify, costs one command
               per block), or the whole flash is read back over the line
               (--verify=readback, about doubles the run). Where the loader
               cannot, the run says so and "verified" is false.
  korvel-cli identify [--port PORT] [--baud N] [--json]
                      [--reset-lines none|dtr-rts[,OPTION]...]
      Synchronise with the LPC ISP boot loader of the board on the port and
      print its part id (decimal and hex), chip and boot code version; with
      --json as one object (port, device, chip, part_id, part_id_hex,
      boot_code, result, result_name, message). Nothing on the board is
      erased, written or started.
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
  [SETTINGS] SerialPort=<n>      default port
  [PORTS]    COM<n>=<device>     map a port number to a device path or to
                                 usb:VID:PID[:SERIAL]
  [KORVEL]   ResetLines=<wiring> as --reset-lines
             ExpectSha256=<hex>  as --expect-sha256

Exit codes:
  0  programming succesful          3  device error
  1  the port could not be opened   4  programming error
  2  device not supported           5  aborted (Ctrl+C, a signal)
  64 wrong usage   66 the package does not load   77 wrong access code
  74 the record failed: the --record file could not be opened or a line
     could not be written to it, or standard output refused a --json line;
     whether or not boards ran, and before any other result; or the serial
     counter could not be read or advanced (no board was touched)
  Several boards: 0 when all succeeded, else the result of the first port
  (in the order given) that did not.
)";
}

}  // namespace korvel::cli
