// make_fuzz_seeds OUTDIR: writes the seed corpus of every fuzz target into
// OUTDIR/<target>/, made with the project's own writers (packages, HEX,
// settings files) and recorded from its board models (replies of real
// dialogues), so each target starts from inputs that reach deep.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/isp_fuzz_image.h"
#include "fuzz/reply_recorder.h"
#include "jobs/pcx_options.h"
#include "procedures/boot_monitor/boot_monitor_procedure.h"
#include "procedures/controller_unit/pcx_procedure.h"
#include "procedures/isp/isp_procedure.h"
#include "procedures/resident_loader/resident_loader_procedure.h"
#include "settings/settings.h"
#include "sim/boot_monitor_model.h"
#include "sim/lpc_board.h"
#include "sim/lpc_hex_writer.h"
#include "sim/package_writer.h"
#include "sim/pcx_board.h"
#include "sim/resident_loader_model.h"

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

namespace korvel::fuzz {
namespace {

Bytes Pattern(std::size_t n, std::uint32_t seed) {
    Bytes bytes(n);
    for (auto& b : bytes) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(seed >> 16);
    }
    return bytes;
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

class Corpus {
  public:
    explicit Corpus(fs::path root) : root_(std::move(root)) {}

    void add(const std::string& target, const std::string& name, const Bytes& bytes) {
        const fs::path dir = root_ / target;
        fs::create_directories(dir);
        std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            std::fprintf(stderr, "make_fuzz_seeds: cannot write %s\n", (dir / name).c_str());
            ok = false;
        }
    }

    bool ok = true;

  private:
    fs::path root_;
};

VirtualSerialDevice::Options Unpaced() {
    VirtualSerialDevice::Options options;
    options.paced = false;
    return options;
}

void Packages(Corpus& corpus) {
    const std::string hex = sim::WriteIntelHex({{0, Pattern(200, 1)}});
    corpus.add("package_fuzz", "isp_hex", sim::BuildPackage({{"LPC2138", "1.00", 'F', Text(hex)}}));
    sim::PackageEntry relative{"BOARD", "2.10", '(', Pattern(100, 2)};
    relative.trailer[0] = 0xAB;
    relative.trailer[1] = 0xCD;
    corpus.add("package_fuzz", "resident", sim::BuildPackage({relative}));
    corpus.add("package_fuzz", "monitor_two_entries",
               sim::BuildPackage({{"RV4500", "2.10", '9', Pattern(300, 3)},
                                  {"RV4500", "2.10", '9', Pattern(40, 4)}}));
    std::vector<sim::PackageEntry> six;
    for (int i = 0; i < 6; ++i) {
        six.push_back({"E" + std::to_string(i), "0." + std::to_string(i), 'G', Pattern(8 * i, 5)});
    }
    corpus.add("package_fuzz", "six_entries", sim::BuildPackage(six));
    corpus.add("package_fuzz", "full_name_empty_data",
               sim::BuildPackage({{"ABCDEFGHIJKLMN", "1234567", ')', {}}}));
}

void Hex(Corpus& corpus) {
    corpus.add("hex_fuzz", "small", Text(sim::WriteIntelHex({{0, Pattern(64, 6)}})));
    corpus.add("hex_fuzz", "linear_addresses",
               Text(sim::WriteIntelHex({{0, Pattern(40, 7)}, {0x1FFF0, Pattern(48, 8)}}, 32)));
    corpus.add("hex_fuzz", "fuzz_image", Text(IspFuzzImage()));
    corpus.add("hex_fuzz", "segment_and_bad_checksum",
               Text(":020000021000EC\r\n:0400000001020304F2\r\n:0400100001020304F0\r\n"
                    ":00000001FF\r\n:junk\r\n"));
}

// A PCX run against the board model, every reply written down.
void FramedReplies(Corpus& corpus) {
    const std::uint8_t commands[] = {0x0A, 0x10, 0x11, 0x18, 0x20, 0x21, 0x22, 0x63};
    auto record = [&](const std::string& name, sim::PcxBoardFaults faults) {
        sim::PcxBoard board(std::move(faults));
        ReplyRecorder recorder(board, FramedRequestEnd);
        PcxProcedure proc(std::make_unique<VirtualSerialDevice>(recorder, Unpaced()));
        if (!proc.link.port().open()) {
            return;
        }
        proc.Prepare();
        const Bytes image = Pattern(3000, 9);
        proc.Run(image, "2.11", PcxOptions{});
        for (std::size_t i = 0; i < recorder.requests().size(); ++i) {
            const std::string& request = recorder.requests()[i];
            const auto command = static_cast<std::uint8_t>(request[3]);
            for (std::uint8_t k = 0; k < sizeof commands; ++k) {
                if (commands[k] != command) {
                    continue;
                }
                Bytes seed = {k, 0x05};
                AppendChunk(seed, recorder.replies()[i]);
                char file[64];
                std::snprintf(file, sizeof file, "%s_%02zu_%02X", name.c_str(), i, command);
                corpus.add("framed_reply_fuzz", file, seed);
            }
        }
    };
    record("run", {});
    sim::PcxBoardFaults busy;
    busy.busyOnce = true;
    busy.refuseEraseAll = true;
    record("busy", busy);
}

void LoaderReplies(Corpus& corpus) {
    sim::ResidentLoaderModel board;
    ReplyRecorder recorder(board, LoaderRequestEnd);
    ResidentLoaderProcedure proc(std::make_unique<VirtualSerialDevice>(recorder, Unpaced()), 0x00,
                                 ResidentLoaderProcedure::kBaudRate);
    if (!proc.port.open()) {
        return;
    }
    proc.Run(Bytes(2500, 0x5A), ResidentLoaderProcedure::Addressing::ByAddress);
    Bytes run = {0x01};
    const Bytes script = recorder.script();
    run.insert(run.end(), script.begin(), script.end());
    corpus.add("loader_reply_fuzz", "absolute_run", run);
    Bytes all = {0x00};
    for (std::size_t i = 0; i < recorder.replies().size(); ++i) {
        const Bytes& reply = recorder.replies()[i];
        Bytes one = {0x00};
        one.insert(one.end(), reply.begin(), reply.end());
        corpus.add("loader_reply_fuzz", "reply_" + std::to_string(i), one);
        all.push_back(0x55);  // noise between frames
        all.insert(all.end(), reply.begin(), reply.end());
    }
    corpus.add("loader_reply_fuzz", "replies_with_noise", all);
}

void IspDialogues(Corpus& corpus) {
    auto record = [&](const std::string& name, const char* chip, std::set<sim::LpcFault> faults) {
        sim::LpcBoard::Options options;
        options.faults = std::move(faults);
        sim::LpcBoard board(*sim::FindLpcPart(chip), options);
        ReplyRecorder recorder(board, IspRequestEnd);
        IspProcedure proc(std::make_unique<VirtualSerialDevice>(recorder, Unpaced()), 0x00, 38400);
        if (!proc.Open()) {
            return;
        }
        const std::string& hex = IspFuzzImage();
        proc.Run({reinterpret_cast<const std::uint8_t*>(hex.data()), hex.size()});
        corpus.add("isp_dialogue_fuzz", name, recorder.script());
    };
    record("lpc2131", "LPC2131", {});
    record("lpc2104", "LPC2104", {});
    record("lpc2368", "LPC2368", {});
    record("resend_once", "LPC2131", {sim::LpcFault::ResendOnce});
    record("go_silent", "LPC2131", {sim::LpcFault::GoSilent});
    record("echo_probe", "LPC2131", {sim::LpcFault::EchoProbe});
    record("refuse_erase", "LPC2131", {sim::LpcFault::RefuseErase});
}

void MonitorTexts(Corpus& corpus) {
    // What the monitor prints from power-on until its prompt, as a host hears it.
    sim::BootMonitorModel board;
    VirtualSerialDevice line(board, Unpaced());
    line.open(LineSettings{sim::BootMonitorModel::kConsoleBaud});
    std::string banner;
    std::uint8_t buffer[256];
    for (int ms = 0; ms < 1500; ++ms) {
        const std::size_t n = line.read(buffer, sizeof buffer);
        banner.append(reinterpret_cast<const char*>(buffer), n);
    }
    auto add = [&](const std::string& name, const std::string& needle, const std::string& received,
                   const std::string& echo) {
        Bytes seed = {static_cast<std::uint8_t>(needle.size())};
        seed.insert(seed.end(), needle.begin(), needle.end());
        seed.push_back(static_cast<std::uint8_t>(received.size() >> 8));
        seed.push_back(static_cast<std::uint8_t>(received.size()));
        seed.insert(seed.end(), received.begin(), received.end());
        AppendChunk(seed, Text(echo));
        corpus.add("monitor_text_fuzz", name, seed);
    };
    add("banner_key", "press any key to stop", banner, "press any key to stop\r\n");
    add("banner_date", "Build date:", banner, "Build date:\r\n");
    add("transfer_ok", "successfully", "Loaded 250 bytes to 0x80000000 successfully\r\n> ",
        "successfully\r\n");
    add("prompt", ">", std::string("\r\n\0> ", 5), ">\r\n");
    add("load_echo", "\r\n", "load term raw 0x80000000\r\n", "load term raw 0x80000000\r\n");
}

void SettingsFiles(Corpus& corpus) {
    const fs::path file =
        fs::temp_directory_path() / ("korvel-seeds-" + std::to_string(::getpid()) + ".ini");
    {
        Settings settings(file.string());
        settings.Load({"-C7", "-Fc:\\fw\\unit.pr2", "-RRUN"});
        settings.Save();
    }
    std::ifstream in(file, std::ios::binary);
    const Bytes saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::error_code ec;
    fs::remove(file, ec);
    corpus.add("settings_file_fuzz", "saved", saved);
    corpus.add("settings_file_fuzz", "ports_and_comments",
               Text("; korvel\n[PORTS]\nCOM3=/dev/ttyUSB0\ncom12 = /dev/serial/by-id/x\n\n"
                    "[SETTINGS]\nSerialPort=300\nAutoRun=7\nLastFiles=\"/tmp/a b.pr2\"\n"
                    "[OTHER]\nkey=value\n"));
    corpus.add("settings_file_fuzz", "malformed",
               Text("[SETTINGS\r\nSerialPort=abc\r\n[settings]\r\nserialport=0\r\n=x\r\n[]\r\n"));
}

void CommandLines(Corpus& corpus) {
    auto add = [&](const std::string& name, const std::vector<std::string>& args) {
        Bytes seed;
        for (std::size_t i = 0; i < args.size(); ++i) {
            if (i > 0) {
                seed.push_back(0);
            }
            seed.insert(seed.end(), args[i].begin(), args[i].end());
        }
        corpus.add("command_line_fuzz", name, seed);
    };
    add("window_options", {"-C7", "-RRUN", "-Fc:\\fw\\unit.pr2", "-U1"});
    add("window_odd", {"-", "", "-Cx", "-RRun", "-Z9"});
    add("window_package", {"-looks-like-an-option.pr2"});
    add("cli_program", {"program", "fw.pr2", "--port", "COM3", "--baud", "38400"});
    add("cli_device", {"program", "fw.pr2", "--port", "/dev/ttyUSB0"});
    add("cli_info", {"info", "fw.pr2"});
    add("cli_ports", {"ports"});
    add("cli_bad", {"program", "--baud", "-5", "--port"});
}

}  // namespace
}  // namespace korvel::fuzz

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fuzz_seeds OUTDIR\n");
        return 64;
    }
    korvel::fuzz::Corpus corpus(argv[1]);
    korvel::fuzz::Packages(corpus);
    korvel::fuzz::Hex(corpus);
    korvel::fuzz::FramedReplies(corpus);
    korvel::fuzz::LoaderReplies(corpus);
    korvel::fuzz::IspDialogues(corpus);
    korvel::fuzz::MonitorTexts(corpus);
    korvel::fuzz::SettingsFiles(corpus);
    korvel::fuzz::CommandLines(corpus);
    return corpus.ok ? 0 : 1;
}
