#include "app/tfrm_show_message.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "app/icon_set.h"

namespace korvel::app {

namespace {

constexpr int kFontPixels = 11;
constexpr int kLabelFontPixels = 19;
constexpr int kButtonSize = 40;
constexpr int kPictureSize = 30;
constexpr int kButtonGap = 40;

QFont DialogFont(int pixels) {
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(pixels);
    return font;
}

}  // namespace

TfrmShowMessage::TfrmShowMessage(QWidget* owner, const QString& text, Kind kind)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                         Qt::MSWindowsFixedSizeDialogHint),
      kind_(kind),
      text_(text) {
    setObjectName(QStringLiteral("frmShowMessage"));
    setFont(DialogFont(kFontPixels));
    setFixedSize(kClientWidth, kWindowHeight);

    PageControl = new QStackedWidget(this);
    PageControl->setObjectName(QStringLiteral("PageControl"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(PageControl);

    cmdOkOk = makeButton(QStringLiteral("cmdOkOk"), tr("Ok"), DialogPicture::Confirm);
    cmdNoNo = makeButton(QStringLiteral("cmdNoNo"), tr("No"), DialogPicture::No);
    cmdYesNoYes = makeButton(QStringLiteral("cmdYesNoYes"), tr("Yes"), DialogPicture::Confirm);
    cmdYesNoNo = makeButton(QStringLiteral("cmdYesNoNo"), tr("No"), DialogPicture::Refuse);
    cmdPasswordYes =
        makeButton(QStringLiteral("cmdPasswordYes"), tr("Yes"), DialogPicture::Confirm);
    cmdPasswordNo = makeButton(QStringLiteral("cmdPasswordNo"), tr("No"), DialogPicture::Refuse);

    PasswordEdit = new QLineEdit;
    PasswordEdit->setObjectName(QStringLiteral("PasswordEdit"));
    PasswordEdit->setEchoMode(QLineEdit::Password);
    PasswordEdit->setMaxLength(kPasswordLength);
    PasswordEdit->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));  // '*'
    PasswordEdit->installEventFilter(this);

    OkTS = makePage(QStringLiteral("Ok"), OkLabel, nullptr, cmdOkOk, nullptr);
    NoTS = makePage(QStringLiteral("No"), NoLabel, nullptr, cmdNoNo, nullptr);
    YesNoTS = makePage(QStringLiteral("YesNo"), YesNoLabel, nullptr, cmdYesNoYes, cmdYesNoNo);
    PasswordTS = makePage(QStringLiteral("Password"), PasswordLabel, PasswordEdit, cmdPasswordYes,
                          cmdPasswordNo);

    connect(cmdOkOk, &QPushButton::clicked, this, &TfrmShowMessage::cmdOkOkClick);
    connect(cmdNoNo, &QPushButton::clicked, this, &TfrmShowMessage::cmdNoNoClick);
    connect(cmdYesNoYes, &QPushButton::clicked, this, &TfrmShowMessage::cmdYesNoYesClick);
    connect(cmdYesNoNo, &QPushButton::clicked, this, &TfrmShowMessage::cmdYesNoNoClick);
    connect(cmdPasswordYes, &QPushButton::clicked, this, &TfrmShowMessage::cmdPasswordYesClick);
    connect(cmdPasswordNo, &QPushButton::clicked, this, &TfrmShowMessage::cmdPasswordNoClick);

    FormCreate();
}

QPushButton* TfrmShowMessage::makeButton(const QString& name, const QString& accessibleName,
                                         DialogPicture picture) {
    auto* button = new QPushButton;
    button->setObjectName(name);
    button->setAccessibleName(accessibleName);
    button->setIcon(DialogIcon(picture));
    button->setIconSize(QSize(kPictureSize, kPictureSize));
    button->setFixedSize(kButtonSize, kButtonSize);
    // No keyboard shortcuts on these pages: Enter must not press a button.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

QWidget* TfrmShowMessage::makePage(const QString& name, QLabel*& label, QLineEdit* edit,
                                   QPushButton* confirm, QPushButton* refuse) {
    auto* page = new QWidget;
    page->setObjectName(name + QStringLiteral("TS"));

    label = new QLabel;
    label->setObjectName(name + QStringLiteral("Label"));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignCenter);
    label->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    label->setMargin(6);
    label->setFont(DialogFont(kLabelFontPixels));
    label->setAutoFillBackground(true);
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::WindowText, Qt::black);
    label->setPalette(palette);
    // The window keeps its size whatever the text: long text wraps or is cut.
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(confirm);
    if (refuse != nullptr) {
        buttons->addSpacing(kButtonGap);
        buttons->addWidget(refuse);
    }
    buttons->addStretch(1);

    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(8);
    layout->addWidget(label, 1);
    if (edit != nullptr) {
        layout->addWidget(edit);
    }
    layout->addLayout(buttons);

    PageControl->addWidget(page);
    return page;
}

void TfrmShowMessage::FormCreate() {
    setWindowTitle(QGuiApplication::applicationDisplayName());
}

void TfrmShowMessage::showEvent(QShowEvent* event) {
    FormShow();
    QDialog::showEvent(event);
}

void TfrmShowMessage::FormShow() {
    setFixedHeight(kWindowHeight);
    QLabel* label = nullptr;
    switch (kind_) {
        case KindOk:
            PageControl->setCurrentWidget(OkTS);
            label = OkLabel;
            break;
        case KindNo:
            PageControl->setCurrentWidget(NoTS);
            label = NoLabel;
            break;
        case KindYesNo:
            PageControl->setCurrentWidget(YesNoTS);
            label = YesNoLabel;
            break;
        case KindPassword:
            PageControl->setCurrentWidget(PasswordTS);
            label = PasswordLabel;
            break;
    }
    if (label != nullptr) {
        // Texts come with Windows line ends; a lone CR would show as a glyph.
        QString shown = text_;
        shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        label->setText(shown);
    }
    if (kind_ == KindPassword) {
        PasswordEdit->setFocus();
    }
    if (const QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void TfrmShowMessage::finish(int result) {
    result_ = result;
    answered_ = true;
    close();
}

void TfrmShowMessage::cmdOkOkClick() {
    finish(DialogOk);
}

void TfrmShowMessage::cmdNoNoClick() {
    finish(DialogNo);
}

void TfrmShowMessage::cmdYesNoYesClick() {
    finish(DialogYes);
}

void TfrmShowMessage::cmdYesNoNoClick() {
    finish(DialogNo);
}

void TfrmShowMessage::cmdPasswordYesClick() {
    finish(DialogYes);
}

void TfrmShowMessage::cmdPasswordNoClick() {
    finish(DialogNo);
}

void TfrmShowMessage::closeEvent(QCloseEvent* event) {
    // The title bar's close button, the system menu or Alt+F4.
    if (!answered_) {
        result_ = DialogNo;
        answered_ = true;
    }
    QDialog::closeEvent(event);
}

void TfrmShowMessage::reject() {
    if (!answered_) {
        result_ = DialogNo;
        answered_ = true;
    }
    QDialog::reject();
}

void TfrmShowMessage::keyPressEvent(QKeyEvent* event) {
    // Escape would close the dialog; these pages have no keyboard shortcuts.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool TfrmShowMessage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == PasswordEdit && event->type() == QEvent::KeyPress) {
        if (PasswordEditKeyDown(static_cast<QKeyEvent*>(event)->key())) {
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

bool TfrmShowMessage::PasswordEditKeyDown(int key) {
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        cmdPasswordYes->click();
        return true;
    }
    return false;
}

int TfrmShowMessage::showModal() {
    exec();
    return result_;
}

int TfrmShowMessage::showPolled(const DialogPoll& poll) {
    if (poll) {
        poll(true);
    }
    setModal(false);
    show();
    // Waits in an event loop rather than a sleep, so the rest of the user
    // interface stays usable while the dialog is up.
    QEventLoop loop;
    QTimer timer;
    timer.setInterval(kPollIntervalMs);
    connect(&timer, &QTimer::timeout, &loop, [&] {
        if (isVisible() && poll && poll(false)) {
            finish(DialogClosedByPoll);
        }
        if (!isVisible()) {
            loop.quit();
        }
    });
    connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
    timer.start();
    if (isVisible()) {
        loop.exec();
    }
    return result_;
}

int TfrmShowMessage::ShowOk(const QString& text) {
    TfrmShowMessage dialog(nullptr, text, KindOk);
    return dialog.showModal();
}

int TfrmShowMessage::ShowOkUntil(const QString& text, const DialogPoll& poll) {
    TfrmShowMessage dialog(nullptr, text, KindOk);
    return dialog.showPolled(poll);
}

int TfrmShowMessage::ShowNo(const QString& text) {
    TfrmShowMessage dialog(nullptr, text, KindNo);
    return dialog.showModal();
}

int TfrmShowMessage::ShowNoUntil(const QString& text, const DialogPoll& poll) {
    TfrmShowMessage dialog(nullptr, text, KindNo);
    return dialog.showPolled(poll);
}

int TfrmShowMessage::AskYesNo(const QString& text) {
    TfrmShowMessage dialog(nullptr, text, KindYesNo);
    return dialog.showModal();
}

int TfrmShowMessage::AskYesNoUntil(const QString& text, const DialogPoll& poll) {
    TfrmShowMessage dialog(nullptr, text, KindYesNo);
    return dialog.showPolled(poll);
}

int TfrmShowMessage::AskPassword(const QString& prompt, const QString& expected) {
    TfrmShowMessage dialog(nullptr, prompt, KindPassword);
    int result = dialog.showModal();
    if (result == DialogYes) {
        const QLocale locale;
        if (locale.toUpper(dialog.PasswordEdit->text()) != locale.toUpper(expected)) {
            ShowOk(QStringLiteral("Wrong password"));
            result = DialogNo;
        }
    }
    return result;
}

}  // namespace korvel::app
