#pragma once

#include <QDialog>
#include <functional>

#include "app/korvel_options.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
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
    // Where "Browse..." picks the serial numbers' counter file; likewise.
    std::function<QString(QWidget* parent, const QString& current)> chooseSerialCounter;

    // OK: taken only when the serial number can be written as given; else
    // the dialog stays and says what is wrong.
    void accept() override;

  private:
    void showWiring();
    void showBoardChoices();

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
    QComboBox* verifyMode_ = nullptr;
    QCheckBox* askBoardId_ = nullptr;
    QCheckBox* writeSerial_ = nullptr;
    QLineEdit* serialPlace_ = nullptr;
    QRadioButton* serialFromCounter_ = nullptr;
    QRadioButton* serialFromBoardId_ = nullptr;
    QLineEdit* serialCounter_ = nullptr;
    QPushButton* browseSerialCounter_ = nullptr;
    QLabel* serialProblem_ = nullptr;
};

}  // namespace korvel::app
