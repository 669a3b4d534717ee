#pragma once

#include <QDialog>
#include <functional>

#include "app/korvel_options.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace korvel::app {

// Edits the window's options. The reset wiring is shown as its parts and
// written back as the setting text korvel-cli reads too.
class OptionsDialog : public QDialog {
    Q_OBJECT

  public:
    explicit OptionsDialog(const KorvelOptions& options, QWidget* parent = nullptr);

    // What the controls say; the recent packages as they were given.
    KorvelOptions options() const;

    // Where "Choose..." picks the record file; a file dialog unless a test puts its own.
    std::function<QString(QWidget* parent, const QString& current)> chooseRecordFile;

  private:
    void showWiring();

    KorvelOptions given_;
    QCheckBox* verify_ = nullptr;
    QComboBox* wiring_ = nullptr;
    QCheckBox* invertReset_ = nullptr;
    QCheckBox* invertBoot_ = nullptr;
    QSpinBox* hold_ = nullptr;
    QSpinBox* settle_ = nullptr;
    QLabel* wiringProblem_ = nullptr;
    QLineEdit* recordFile_ = nullptr;
    QCheckBox* sound_ = nullptr;
    QCheckBox* messageDialog_ = nullptr;
    QCheckBox* extraBaudRates_ = nullptr;
};

}  // namespace korvel::app
