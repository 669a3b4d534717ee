#pragma once

#include <functional>
#include <string>

namespace korvel {

// Answers of the program's message dialog, in the platform's button codes.
enum DialogResult : int {
    DialogOk = 1,
    DialogClosedByPoll = 3,
    DialogYes = 6,
    DialogNo = 7,  // also: the dialog window was closed by the user
};

// Called once with init true before a modeless dialog shows, then about every
// 10 ms with false; true closes the dialog with DialogClosedByPoll.
using DialogPoll = std::function<bool(bool init)>;

// The message dialog's operations. Every call runs on the user-interface
// thread and returns when the answer is known.
class DialogService {
  public:
    virtual ~DialogService() = default;
    virtual int ShowOk(const std::string& text) = 0;
    virtual int ShowOkUntil(const std::string& text, const DialogPoll& poll) = 0;
    virtual int ShowNo(const std::string& text) = 0;
    virtual int ShowNoUntil(const std::string& text, const DialogPoll& poll) = 0;
    virtual int AskYesNo(const std::string& text) = 0;
    virtual int AskYesNoUntil(const std::string& text, const DialogPoll& poll) = 0;
    // DialogYes only for the expected password (compared ignoring case) confirmed;
    // a wrong one shows "Wrong password" and gives DialogNo.
    virtual int AskPassword(const std::string& prompt, const std::string& expected) = 0;
};

}  // namespace korvel
