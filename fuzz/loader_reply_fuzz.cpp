// The resident loader's reply side on arbitrary bytes. Even first byte: the
// reply parser alone, checked against the frame that must precede the byte
// that completed it. Odd first byte: a whole absolute-variant run whose
// requests are answered from the input, one chunk per request.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "fuzz/scripted_board.h"
#include "procedures/resident_loader/loader_frame.h"
#include "procedures/resident_loader/resident_loader_procedure.h"
#include "serial/virtual_serial_device.h"

namespace {

using korvel::LoaderReplyParser;

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void ParseAlone(const std::uint8_t* data, std::size_t size) {
    LoaderReplyParser parser;
    for (std::size_t i = 0; i < size; ++i) {
        if (!parser.feed(data[i])) {
            continue;
        }
        // The frame that completed ends here: 02, command, length, payload, sum, 03.
        const std::size_t length = parser.length();
        Require(i + 1 >= length + 6);
        const std::size_t start = i + 1 - (length + 6);
        Require(data[start] == 0x02 && data[start + 1] == parser.command() &&
                data[start + 2] == (length >> 8) && data[start + 3] == (length & 0xFF) &&
                data[i] == 0x03);
        std::uint8_t sum = 0;
        for (std::size_t k = start + 1; k < start + 4 + length; ++k) {
            sum = static_cast<std::uint8_t>(sum + data[k]);
        }
        Require(data[start + 4 + length] == sum);
        const auto kept = parser.keptPayload();
        Require(kept.size() == std::min(length, LoaderReplyParser::kKeptPayload));
        for (std::size_t k = 0; k < kept.size(); ++k) {
            Require(kept[k] == data[start + 4 + k]);
        }
        // Nothing more is taken until the parser starts afresh.
        Require(parser.feed(0x02) && parser.complete());
        parser.reset();
    }
}

void RunScripted(const std::uint8_t* data, std::size_t size) {
    korvel::fuzz::ScriptedBoard board({data, size}, korvel::fuzz::LoaderRequestEnd);
    korvel::VirtualSerialDevice::Options options;
    options.paced = false;
    korvel::ResidentLoaderProcedure proc(
        std::make_unique<korvel::VirtualSerialDevice>(board, options), 0x00, 57600);
    // A run goes on only as long as the input answers it.
    board.onExhausted = [&] { proc.RequestAbort(); };
    Require(proc.port.open());
    static const std::vector<std::uint8_t> image(2500, 0x5A);
    const korvel::RunResult result =
        proc.Run(image, korvel::ResidentLoaderProcedure::Addressing::ByAddress);
    Require(result == korvel::RunResult::Success || result == korvel::RunResult::ProgrammingError ||
            result == korvel::RunResult::Aborted);
    // Success only after connect, one erase, three blocks and the restart.
    Require(result != korvel::RunResult::Success || board.requests() == 6);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    if (data[0] % 2 == 0) {
        ParseAlone(data + 1, size - 1);
    } else {
        RunScripted(data + 1, size - 1);
    }
    return 0;
}
