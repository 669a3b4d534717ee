#pragma once

#include <QDateTime>
#include <QString>
#include <QWidget>
#include <functional>

class QPlainTextEdit;
class QPushButton;
class QToolButton;

namespace korvel::app {

// The run log: every status of every run with the time it was shown, each
// run closed by its outcome line. Folds away under the status line; its text
// can be copied or saved. Shows what it is told and nothing else.
class RunLogPane : public QWidget {
    Q_OBJECT

  public:
    explicit RunLogPane(QWidget* parent = nullptr);

    void BeginRun(const QString& what);
    // An empty status (a run clearing its line) says nothing and is left out.
    void AddStatus(const QString& status);
    void AddOutcome(const QString& line);
    // A note of the window's own (a package handed over, refused ...).
    void AddNote(const QString& note);

    QString text() const;
    // Writes the log as UTF-8 text; false with the reason in `error`.
    bool SaveTo(const QString& path, QString& error) const;
    void CopyToClipboard() const;
    // Asks where to save (chooseSaveFile) and saves there; the reason shows when it fails.
    void SaveAs();

    bool expanded() const;
    void setExpanded(bool expanded);

    // Where "Save log..." writes; a file dialog unless a test puts its own.
    std::function<QString(QWidget* parent)> chooseSaveFile;
    // The clock the lines are stamped with.
    std::function<QDateTime()> now;

  signals:
    void expandedChanged(bool expanded);

  private:
    void addLine(const QString& line);

    QToolButton* fold_ = nullptr;
    QWidget* body_ = nullptr;
    QPlainTextEdit* text_ = nullptr;
    QPushButton* copy_ = nullptr;
    QPushButton* save_ = nullptr;
};

}  // namespace korvel::app
