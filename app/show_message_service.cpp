#include "app/show_message_service.h"

#include "app/tfrm_show_message.h"

namespace korvel::app {

namespace {

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

int ShowMessageService::ShowOk(const std::string& text) {
    return TfrmShowMessage::ShowOk(Text(text));
}

int ShowMessageService::ShowOkUntil(const std::string& text, const DialogPoll& poll) {
    return TfrmShowMessage::ShowOkUntil(Text(text), poll);
}

int ShowMessageService::ShowNo(const std::string& text) {
    return TfrmShowMessage::ShowNo(Text(text));
}

int ShowMessageService::ShowNoUntil(const std::string& text, const DialogPoll& poll) {
    return TfrmShowMessage::ShowNoUntil(Text(text), poll);
}

int ShowMessageService::AskYesNo(const std::string& text) {
    return TfrmShowMessage::AskYesNo(Text(text));
}

int ShowMessageService::AskYesNoUntil(const std::string& text, const DialogPoll& poll) {
    return TfrmShowMessage::AskYesNoUntil(Text(text), poll);
}

int ShowMessageService::AskPassword(const std::string& prompt, const std::string& expected) {
    return TfrmShowMessage::AskPassword(Text(prompt), Text(expected));
}

}  // namespace korvel::app
