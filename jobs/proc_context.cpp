#include "jobs/proc_context.h"

#include <cstdarg>
#include <cstdio>

namespace korvel {

void ProcContext::Clear() {
    abortRequested = false;
    learned = {};
    reason_.clear();
    progressBar = nullptr;
    onProgressMax = nullptr;
    onProgressPosition = nullptr;
    onProgressStep = nullptr;
    statusControl = nullptr;
    statusLog = nullptr;
    onStatus = nullptr;
    onShowOk = nullptr;
    onShowOkUntil = nullptr;
    onShowNo = nullptr;
    onShowNoUntil = nullptr;
    onAskYesNo = nullptr;
    onAskYesNoUntil = nullptr;
}

RunResult ProcContext::Fail(RunResult result, std::string reason) {
    if (reason_.empty()) {
        reason_ = std::move(reason);
    }
    return result;
}

void ProcContext::SetProgressMax(int maximum) {
    if (progressBar != nullptr) {
        progressBar->setMaximum(maximum);
    } else if (onProgressMax) {
        onProgressMax(maximum);
    }
}

void ProcContext::SetProgress(int position) {
    if (progressBar != nullptr) {
        progressBar->setPosition(position);
    } else if (onProgressPosition) {
        onProgressPosition(position);
    }
}

void ProcContext::StepProgress(int delta) {
    if (progressBar != nullptr) {
        progressBar->setPosition(progressBar->position() + delta);
    } else if (onProgressStep) {
        onProgressStep(delta);
    }
}

void ProcContext::Status(const char* format, ...) {
    char buffer[kStatusCapacity];
    va_list args;
    va_start(args, format);
    // vsnprintf truncates to the buffer, so no format can overrun it.
    const int wanted = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (wanted < 0) {
        buffer[0] = '\0';
    }
    std::string text(buffer);
    if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0) {
        text.resize(text.size() - 2);
    }
    if (statusControl != nullptr || statusLog != nullptr) {
        if (statusControl != nullptr) {
            statusControl->setText(text);
        }
        if (statusLog != nullptr) {
            statusLog->append(text);
        }
    } else if (onStatus) {
        onStatus(text);
    }
}

}  // namespace korvel
