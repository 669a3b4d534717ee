#pragma once

#include <string>

#include "jobs/proc_context.h"
#include "procedures/isp/isp_link.h"

namespace korvel {

// printf into a string.
std::string IspFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

// One command of the dialogue as the user hears of it when its answer does
// not let the run go on.
struct IspStep {
    // The reason's words for it: "The board refused to <what>".
    std::string what;
    const char* noAnswer;        // status text: the time-out ran out
    const char* refused;         // status text: any other answer
    bool showAnswer = false;     // `refused` is followed by the answer
    const char* note = nullptr;  // logged before the cancel on a refusal
    // What it is where no verb fits the reason ("the synchronisation");
    // otherwise "the command to <what>".
    const char* noun = nullptr;
};

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
    // True when the answer starts with `accepted`; otherwise the run ends
    // with the step's texts and the reason its answer gives (or was stopped).
    bool Judge(const IspAnswer& answer, const char* accepted, const IspStep& step);

  private:
    ProcContext& context_;
};

}  // namespace korvel
