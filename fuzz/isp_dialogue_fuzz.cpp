// The ISP procedure's response feed on arbitrary replies: a whole run of a
// small image whose every command is answered from the input (echo included,
// so the feed meets every echo state: matching, cut short, wrong, absent,
// and answers far beyond its buffer), the read-back of verify included. The
// run always ends with one of its three results, and the input's end stops it.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "fuzz/isp_fuzz_image.h"
#include "fuzz/scripted_board.h"
#include "procedures/isp/isp_procedure.h"
#include "serial/virtual_serial_device.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    korvel::fuzz::ScriptedBoard board({data, size}, korvel::fuzz::IspRequestEnd);
    korvel::VirtualSerialDevice::Options options;
    options.paced = false;
    korvel::IspProcedure proc(std::make_unique<korvel::VirtualSerialDevice>(board, options), 0x00,
                              38400);
    board.onExhausted = [&] { proc.RequestAbort(); };
    // Both checks read the chip's answers: the input's length picks one.
    proc.SetVerify(size % 2 == 0 ? korvel::VerifyMode::Compare : korvel::VerifyMode::Readback);
    Require(proc.Open());
    const std::string& hex = korvel::fuzz::IspFuzzImage();
    const korvel::RunResult result =
        proc.Run({reinterpret_cast<const std::uint8_t*>(hex.data()), hex.size()});
    Require(result == korvel::RunResult::Success || result == korvel::RunResult::ProgrammingError ||
            result == korvel::RunResult::Aborted);
    return 0;
}
