#pragma once

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <deque>
#include <functional>

#include "app/tfrm_show_message.h"

namespace korvel::test {

// Answers the message dialogs as a user would, in the order they come up,
// and remembers what each said. A dialog with no answer left is closed from
// its title bar and counted, so a test never hangs on one.
class DialogAnswerer : public QObject {
  public:
    using Answer = std::function<void(app::TfrmShowMessage&)>;

    DialogAnswerer() {
        timer_.setInterval(5);
        connect(&timer_, &QTimer::timeout, this, &DialogAnswerer::look);
        timer_.start();
    }

    DialogAnswerer& then(Answer answer) {
        answers_.push_back(std::move(answer));
        return *this;
    }

    static Answer Click(const char* button) {
        return [button](app::TfrmShowMessage& dialog) {
            auto* target = dialog.findChild<QPushButton*>(QString::fromLatin1(button));
            QVERIFY2(target != nullptr && target->isVisible(), button);
            QTest::mouseClick(target, Qt::LeftButton);
        };
    }
    static Answer Type(const QString& text, Qt::Key finalKey) {
        return [text, finalKey](app::TfrmShowMessage& dialog) {
            auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("PasswordEdit"));
            QVERIFY(edit != nullptr);
            // The dialog gives the field the focus once the window system has
            // activated it, which may come a little after it shows on a busy machine.
            QVERIFY(QTest::qWaitFor([edit] { return edit->hasFocus(); }, 5000));
            QTest::keyClicks(edit, text);
            QTest::keyClick(edit, finalKey);
        };
    }
    static Answer CloseWindow() {
        return [](app::TfrmShowMessage& dialog) { dialog.close(); };
    }
    // For a dialog that its poll function is to close.
    static Answer Leave() {
        return [](app::TfrmShowMessage& dialog) {
            if (dialog.isModal()) {
                dialog.close();
                QFAIL("a modal dialog was left unanswered");
            }
        };
    }

    QStringList texts;
    QList<int> kinds;
    int unanswered = 0;

  private:
    void look() {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<app::TfrmShowMessage*>(widget);
            if (dialog == nullptr || !dialog->isVisible() || dialog->property("seen").toBool()) {
                continue;
            }
            dialog->setProperty("seen", true);
            texts << dialog->text();
            kinds << dialog->kind();
            if (answers_.empty()) {
                ++unanswered;
                dialog->close();
                continue;
            }
            Answer answer = std::move(answers_.front());
            answers_.pop_front();
            answer(*dialog);
        }
    }

    QTimer timer_;
    std::deque<Answer> answers_;
};

// Closes any message dialog that is still up after a few seconds, so that a
// test expecting none fails instead of hanging.
class StrayDialogCloser : public QObject {
  public:
    StrayDialogCloser() {
        timer_.setInterval(100);
        connect(&timer_, &QTimer::timeout, this, [this] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* dialog = qobject_cast<app::TfrmShowMessage*>(widget);
                if (dialog == nullptr || !dialog->isVisible()) {
                    continue;
                }
                const int ticks = dialog->property("strayTicks").toInt() + 1;
                dialog->setProperty("strayTicks", ticks);
                if (ticks > kPatienceTicks) {
                    closed << dialog->text();
                    dialog->close();
                }
            }
        });
        timer_.start();
    }

    QStringList closed;

  private:
    static constexpr int kPatienceTicks = 30;
    QTimer timer_;
};

}  // namespace korvel::test
