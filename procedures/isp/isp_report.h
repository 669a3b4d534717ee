#pragma once

#include <cstdint>
#include <string>

#include "jobs/proc_context.h"
#include "procedures/isp/isp_link.h"

namespace korvel {

// printf into a string.
std::string IspFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The commands of the dialogue whose answer decides whether the run goes on.
enum class IspCommand : std::uint8_t {
    ConfirmSync,
    Crystal,
    Identify,
    BootCode,
    Unlock,
    PrepareErase,
    Erase,
    WriteToRam,
    DataGroup,
    PrepareCopy,
    Copy,
    Compare,
    Read,
    ReadLines,
    LoadJump,
    Go,
};

// One command: its time-out, the answer it awaits, and what the user is told
// when another comes.
struct IspCommandRow {
    IspCommand command;
    int slices;            // the time-out, in slices of IspLink::kSliceMs
    const char* accepted;  // the start of the answer that lets the run go on
    const char* noAnswer;  // status text: the time-out ran out
    const char* refused;   // status text: any other answer
    bool showAnswer;       // `refused` is followed by the answer
    const char* note;      // logged before the cancel on a refusal
    // What it is in a reason where no verb fits ("the synchronisation");
    // null: "the command to <what>".
    const char* noun;
};

const IspCommandRow& IspCommandOf(IspCommand command);

// What a technician checks when a board falls silent in the middle of a run.
inline constexpr const char* kIspCheckBoard =
    "check the cable and the board's power, then reset the board and try again";

// How an ISP run tells the user what happens: the log of status texts while
// it runs and, when it ends early, the cancel texts and the reason.
class IspReport {
  public:
    explicit IspReport(ProcContext& context) : context_(context) {}

    // A status text, printf-style: its first line, without blanks, control
    // characters or a colon at either end.
    void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Ends the run: the cancel texts with message (its first words shown),
    // and reason as the run's reason. False, for a phase to return.
    bool Cancel(const char* message, std::string reason);
    // True when the answer is the one the command awaits; otherwise the run
    // ends with the command's texts and the reason the answer gives (or was
    // stopped). `what` completes "The board refused to ...".
    bool Judge(const IspAnswer& answer, IspCommand command, const std::string& what);

  private:
    ProcContext& context_;
};

}  // namespace korvel
