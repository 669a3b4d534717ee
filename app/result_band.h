#pragma once

#include <QFrame>
#include <functional>

#include "jobs/outcome.h"

class QLabel;
class QPushButton;

namespace korvel::app {

// A run's end, readable from across the bench: a wide band, green with the
// success text and the time taken, red with the result's line and its
// reason; under it the boards passed and failed since the window opened.
// Shows what it is given and decides nothing about the run.
class ResultBand : public QFrame {
    Q_OBJECT

  public:
    explicit ResultBand(QWidget* parent = nullptr);

    // resultLine: the result's message ("Programming succesful", "Unable to
    // open port COM3", ...), empty for a stopped run, which is not counted.
    void ShowOutcome(const Outcome& outcome, const QString& resultLine);
    // Back to the neutral band while a run goes on. `board` names the board
    // (its id, its serial number): shown during the run and, when it
    // passes, after its time.
    void ShowRunning(const QString& board = {});
    void ResetCounters();

    int passed() const { return passed_; }
    int failed() const { return failed_; }
    QString headline() const;
    QString detail() const;
    // Which look the band has: "idle", "running", "passed", "failed", "stopped".
    QString state() const { return state_; }

    // A sound at each run's end; off by default.
    void setSound(bool on) { sound_ = on; }
    // How the sound is made; the system's beep unless a test puts its own.
    std::function<void()> beep;

  private:
    void setLook(const QString& state);
    void showCounters();

    QLabel* headline_ = nullptr;
    QLabel* detail_ = nullptr;
    QLabel* counters_ = nullptr;
    QPushButton* reset_ = nullptr;
    QString state_;
    QString board_;
    int passed_ = 0;
    int failed_ = 0;
    bool sound_ = false;
};

}  // namespace korvel::app
