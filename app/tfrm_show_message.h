#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>

#include "app/icon_set.h"
#include "jobs/dialog_service.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;

namespace korvel::app {

// The program's own message dialog: one page per kind (a message with Ok, a
// message with a single No, a yes/no question, a password prompt). One dialog
// object serves one message; the static operations create it, show it, and
// return its answer as a DialogResult.
class TfrmShowMessage : public QDialog {
    Q_OBJECT

  public:
    enum Kind : std::int8_t {
        KindOk = 0,
        KindNo = 1,
        KindYesNo = 2,
        KindPassword = 3,
    };

    static constexpr int kClientWidth = 434;
    static constexpr int kWindowHeight = 260;
    static constexpr int kPasswordLength = 32;
    // How often a modeless dialog asks its poll function whether to close.
    static constexpr int kPollIntervalMs = 10;

    TfrmShowMessage(QWidget* owner, const QString& text, Kind kind);

    static int ShowOk(const QString& text);
    static int ShowOkUntil(const QString& text, const DialogPoll& poll);
    static int ShowNo(const QString& text);
    static int ShowNoUntil(const QString& text, const DialogPoll& poll);
    static int AskYesNo(const QString& text);
    static int AskYesNoUntil(const QString& text, const DialogPoll& poll);
    static int AskPassword(const QString& prompt, const QString& expected);

    Kind kind() const { return kind_; }
    const QString& text() const { return text_; }
    // 0 until a button, the poll function or a close decides.
    int dialogResult() const { return result_; }

    void reject() override;

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void FormCreate();
    void FormShow();
    void cmdOkOkClick();
    void cmdNoNoClick();
    void cmdYesNoYesClick();
    void cmdYesNoNoClick();
    void cmdPasswordYesClick();
    void cmdPasswordNoClick();
    bool PasswordEditKeyDown(int key);

    int showModal();
    int showPolled(const DialogPoll& poll);
    void finish(int result);

    QWidget* makePage(const QString& name, QLabel*& label, QLineEdit* edit, QPushButton* confirm,
                      QPushButton* refuse);
    QPushButton* makeButton(const QString& name, const QString& accessibleName,
                            DialogPicture picture);

    Kind kind_;
    QString text_;
    int result_ = 0;
    bool answered_ = false;

    QStackedWidget* PageControl = nullptr;
    QWidget* OkTS = nullptr;
    QWidget* NoTS = nullptr;
    QWidget* YesNoTS = nullptr;
    QWidget* PasswordTS = nullptr;
    QLabel* OkLabel = nullptr;
    QLabel* NoLabel = nullptr;
    QLabel* YesNoLabel = nullptr;
    QLabel* PasswordLabel = nullptr;
    QLineEdit* PasswordEdit = nullptr;
    QPushButton* cmdOkOk = nullptr;
    QPushButton* cmdNoNo = nullptr;
    QPushButton* cmdYesNoYes = nullptr;
    QPushButton* cmdYesNoNo = nullptr;
    QPushButton* cmdPasswordYes = nullptr;
    QPushButton* cmdPasswordNo = nullptr;
};

}  // namespace korvel::app
