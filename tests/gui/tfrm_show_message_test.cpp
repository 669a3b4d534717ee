// The message dialog: its pages, its answers, the password prompt and the
// polled (modeless) operations.
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <algorithm>

#include "app/tfrm_show_message.h"
#include "tests/gui/dialog_answerer.h"

using korvel::DialogPoll;
using korvel::app::TfrmShowMessage;
using korvel::test::DialogAnswerer;

namespace {

using Operation = int (*)(const QString&);

// What a dialog looked like when it came up.
struct Look {
    QString page;
    QString label;
    QStringList buttons;  // visible buttons of the page, left to right
    QSize size;
    QString caption;
    bool fixedSize = false;
    bool canMaximise = true;
    bool canMinimise = true;
};

DialogAnswerer::Answer Inspect(Look& look, DialogAnswerer::Answer then) {
    return [&look, then](TfrmShowMessage& dialog) {
        auto* pages = dialog.findChild<QStackedWidget*>(QStringLiteral("PageControl"));
        QWidget* page = pages->currentWidget();
        look.page = page->objectName();
        look.label = page->findChild<QLabel*>()->text();
        QList<QPushButton*> buttons = page->findChildren<QPushButton*>();
        std::sort(buttons.begin(), buttons.end(),
                  [](QPushButton* a, QPushButton* b) { return a->x() < b->x(); });
        for (QPushButton* button : buttons) {
            if (button->isVisible()) {
                look.buttons << button->objectName();
            }
        }
        look.size = dialog.size();
        look.caption = dialog.windowTitle();
        look.fixedSize = dialog.minimumSize() == dialog.maximumSize();
        look.canMaximise = dialog.windowFlags().testFlag(Qt::WindowMaximizeButtonHint);
        look.canMinimise = dialog.windowFlags().testFlag(Qt::WindowMinimizeButtonHint);
        then(dialog);
    };
}

}  // namespace

class TfrmShowMessageTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { QGuiApplication::setApplicationDisplayName("Korvel V.1.064"); }

    void cleanup() {
        // Nothing of a dialog outlives its operation.
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            QVERIFY(qobject_cast<TfrmShowMessage*>(widget) == nullptr);
        }
    }

    void modalPagesAnswerWithTheirButtons_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("page");
        QTest::addColumn<QStringList>("buttons");
        const QStringList ok{"cmdOkOk"};
        const QStringList no{"cmdNoNo"};
        const QStringList yesNo{"cmdYesNoYes", "cmdYesNoNo"};
        QTest::newRow("ShowOk, Ok") << 0 << "cmdOkOk" << 1 << "OkTS" << ok;
        QTest::newRow("ShowNo, No") << 1 << "cmdNoNo" << 7 << "NoTS" << no;
        QTest::newRow("AskYesNo, Yes") << 2 << "cmdYesNoYes" << 6 << "YesNoTS" << yesNo;
        QTest::newRow("AskYesNo, No") << 2 << "cmdYesNoNo" << 7 << "YesNoTS" << yesNo;
    }
    void modalPagesAnswerWithTheirButtons() {
        QFETCH(int, kind);
        QFETCH(QString, button);
        QFETCH(int, result);
        QFETCH(QString, page);
        QFETCH(QStringList, buttons);
        const Operation operations[] = {TfrmShowMessage::ShowOk, TfrmShowMessage::ShowNo,
                                        TfrmShowMessage::AskYesNo};
        Look look;
        const QByteArray name = button.toLatin1();
        DialogAnswerer answerer;
        answerer.then(Inspect(look, DialogAnswerer::Click(name.constData())));
        QCOMPARE(operations[kind]("Erase the flash?"), result);
        QCOMPARE(answerer.kinds, QList<int>{kind});
        QCOMPARE(look.page, page);
        QCOMPARE(look.label, QString("Erase the flash?"));
        QCOMPARE(look.buttons, buttons);
        QCOMPARE(look.size, QSize(434, 260));
        QCOMPARE(look.caption, QString("Korvel V.1.064"));
        QVERIFY(look.fixedSize);
        QVERIFY(!look.canMaximise);
        QVERIFY(!look.canMinimise);
    }

    void closingFromTheTitleBarAnswersNo() {
        DialogAnswerer answerer;
        answerer.then(DialogAnswerer::CloseWindow())
            .then(DialogAnswerer::CloseWindow())
            .then(DialogAnswerer::CloseWindow())
            .then(DialogAnswerer::CloseWindow());
        QCOMPARE(TfrmShowMessage::ShowOk("Done"), 7);
        QCOMPARE(TfrmShowMessage::AskYesNo("Erase?"), 7);
        QCOMPARE(TfrmShowMessage::ShowOkUntil("Wait", [](bool) { return false; }), 7);
        QCOMPARE(TfrmShowMessage::AskPassword("Password", "kzt"), 7);
        QCOMPARE(answerer.texts, (QStringList{"Done", "Erase?", "Wait", "Password"}));
    }

    void escapeAndEnterPressNothing() {
        DialogAnswerer answerer;
        answerer.then([](TfrmShowMessage& dialog) {
            QTest::keyClick(&dialog, Qt::Key_Escape);
            QTest::keyClick(&dialog, Qt::Key_Return);
            QTest::keyClick(dialog.focusWidget() ? dialog.focusWidget() : &dialog, Qt::Key_Enter);
            QVERIFY(dialog.isVisible());
            QCOMPARE(dialog.dialogResult(), 0);
            DialogAnswerer::Click("cmdYesNoNo")(dialog);
        });
        QCOMPARE(TfrmShowMessage::AskYesNo("Erase?"), 7);
    }

    void windowsLineEndsShowAsALineBreakAndLongTextWraps() {
        const QString longText = QString("Please check the cable. ").repeated(20);
        QString label;
        QSize size;
        QRect labelRect;
        DialogAnswerer answerer;
        answerer
            .then([&](TfrmShowMessage& dialog) {
                label = dialog.findChild<QLabel*>("OkLabel")->text();
                DialogAnswerer::Click("cmdOkOk")(dialog);
            })
            .then([&](TfrmShowMessage& dialog) {
                auto* shown = dialog.findChild<QLabel*>("OkLabel");
                QVERIFY(shown->wordWrap());
                size = dialog.size();
                labelRect = shown->geometry();
                DialogAnswerer::Click("cmdOkOk")(dialog);
            });
        TfrmShowMessage::ShowOk("Device not supported\r\nPlease check for Korvel updates");
        QCOMPARE(label, QString("Device not supported\nPlease check for Korvel updates"));
        TfrmShowMessage::ShowOk(longText);
        QCOMPARE(size, QSize(434, 260));
        QVERIFY(labelRect.width() < 434);
    }

    void passwordAnswers_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("result");
        QTest::addColumn<bool>("wrongPasswordShown");
        QTest::newRow("other case, Enter") << "KzT"
                                           << "enter" << 6 << false;
        QTest::newRow("same case, keypad Enter") << "kzt"
                                                 << "keypad" << 6 << false;
        QTest::newRow("upper case, Yes") << "KZT"
                                         << "yes" << 6 << false;
        QTest::newRow("empty, Yes") << ""
                                    << "yes" << 7 << true;
        QTest::newRow("wrong, Enter") << "kzx"
                                      << "enter" << 7 << true;
        QTest::newRow("longer, Enter") << "kztkzt"
                                       << "enter" << 7 << true;
        QTest::newRow("right, No") << "kzt"
                                   << "no" << 7 << false;
    }
    void passwordAnswers() {
        QFETCH(QString, typed);
        QFETCH(QString, how);
        QFETCH(int, result);
        QFETCH(bool, wrongPasswordShown);
        DialogAnswerer answerer;
        QString page;
        answerer.then([&](TfrmShowMessage& dialog) {
            page = dialog.findChild<QStackedWidget*>("PageControl")->currentWidget()->objectName();
            if (how == "enter") {
                DialogAnswerer::Type(typed, Qt::Key_Return)(dialog);
            } else if (how == "keypad") {
                DialogAnswerer::Type(typed, Qt::Key_Enter)(dialog);
            } else {
                QTest::keyClicks(dialog.findChild<QLineEdit*>("PasswordEdit"), typed);
                DialogAnswerer::Click(how == "yes" ? "cmdPasswordYes" : "cmdPasswordNo")(dialog);
            }
        });
        answerer.then(DialogAnswerer::Click("cmdOkOk"));
        QCOMPARE(TfrmShowMessage::AskPassword("Password", "kzt"), result);
        QCOMPARE(page, QString("PasswordTS"));
        QStringList expected{"Password"};
        if (wrongPasswordShown) {
            expected << "Wrong password";
        }
        QCOMPARE(answerer.texts, expected);
        QCOMPARE(answerer.unanswered, 0);
    }

    void passwordFieldShowsStarsAndTakesAtMost32Characters() {
        QString shown;
        QString held;
        DialogAnswerer answerer;
        answerer.then([&](TfrmShowMessage& dialog) {
            auto* edit = dialog.findChild<QLineEdit*>("PasswordEdit");
            QTest::keyClicks(edit, QString(40, QChar('a')));
            held = edit->text();
            shown = edit->displayText();
            DialogAnswerer::Click("cmdPasswordNo")(dialog);
        });
        TfrmShowMessage::AskPassword("Password", "kzt");
        QCOMPARE(held, QString(32, QChar('a')));
        QCOMPARE(shown, QString(32, QChar('*')));
    }

    void polledDialogClosesWhenItsPollSaysSo() {
        QList<bool> calls;
        QElapsedTimer clock;
        clock.start();
        const int result = TfrmShowMessage::ShowNoUntil("Waiting for the board", [&](bool init) {
            calls << init;
            return !init;  // the first call with false closes it
        });
        QCOMPARE(result, 3);
        QCOMPARE(calls, (QList<bool>{true, false}));
        QVERIFY(clock.elapsed() >= 9);
    }

    void polledDialogsAnswerWithTheirButtonsAndKeepTheProgramResponsive() {
        int initCalls = 0;
        auto never = [&](bool init) {
            initCalls += init ? 1 : 0;
            return false;
        };
        bool otherEventRan = false;
        DialogAnswerer answerer;
        answerer
            .then([&](TfrmShowMessage& dialog) {
                QVERIFY(!dialog.isModal());
                // Events for the rest of the program are served meanwhile.
                QTimer::singleShot(0, [&] { otherEventRan = true; });
                QTRY_VERIFY(otherEventRan);
                DialogAnswerer::Click("cmdOkOk")(dialog);
            })
            .then(DialogAnswerer::Click("cmdYesNoYes"))
            .then(DialogAnswerer::Click("cmdYesNoNo"))
            .then(DialogAnswerer::Click("cmdNoNo"));
        QCOMPARE(TfrmShowMessage::ShowOkUntil("Reset the board", never), 1);
        QCOMPARE(TfrmShowMessage::AskYesNoUntil("Erase?", never), 6);
        QCOMPARE(TfrmShowMessage::AskYesNoUntil("Erase?", never), 7);
        QCOMPARE(TfrmShowMessage::ShowNoUntil("Press No to stop", never), 7);
        QCOMPARE(initCalls, 4);
        QCOMPARE(answerer.kinds, (QList<int>{0, 2, 2, 1}));
    }

    void pollThatNeverReturnsTrueDoesNotCloseTheDialog() {
        DialogAnswerer answerer;
        int pollsBeforeAnswer = 0;
        int polls = 0;
        answerer.then([&](TfrmShowMessage& dialog) {
            QTest::qWait(60);
            QVERIFY(dialog.isVisible());
            pollsBeforeAnswer = polls;
            DialogAnswerer::Click("cmdOkOk")(dialog);
        });
        QCOMPARE(TfrmShowMessage::ShowOkUntil("Wait",
                                              [&](bool) {
                                                  ++polls;
                                                  return false;
                                              }),
                 1);
        QVERIFY(pollsBeforeAnswer >= 3);
    }
};

QTEST_MAIN(TfrmShowMessageTest)
#include "tfrm_show_message_test.moc"
