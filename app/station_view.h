#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/adapter_ports.h"
#include "app/qt_ui_handover.h"
#include "app/show_message_service.h"
#include "jobs/gang_run.h"
#include "jobs/record_file.h"
#include "jobs/run_request.h"
#include "procedures/package_kinds.h"
#include "settings/settings.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTableWidget;

namespace korvel::app {

// What the station reaches outside itself; empty members get the system's.
struct StationHooks {
    std::span<const DriverEntry> drivers = StandardDrivers();
    std::function<std::vector<AdapterPort>()> listPorts;
    std::function<QString(QWidget* parent, const QString& current)> chooseRecordFile;
};

// Several boards from the window: the ports are picked from the adapters
// present, Program starts a run on each (a GangRun) and Stop stops them all;
// one row per board shows its progress, status, result and reason, and each
// board's record is appended to the record file as the same JSON line
// korvel-cli --record writes.
class StationView : public QWidget {
    Q_OBJECT

  public:
    // The ports' numbers for the runs, above every COM<n> of the settings.
    static constexpr int kFirstPortNumber = Settings::kMaxPort + 1;

    explicit StationView(StationHooks hooks = {}, QWidget* parent = nullptr);
    ~StationView() override;

    // Asked at each Program with the ticked ports: the request the window
    // makes for them (the steps before every run), or nullopt with the
    // reason to show.
    std::function<std::optional<RunRequest>(std::vector<RunPort> ports, std::string& whyNot)>
        request;

    void RefreshPorts();
    // Adds a port the list does not show (a device path, COMn), ticked.
    void AddPort(const QString& device);
    void ProgramAll();
    void StopAll();

    bool running() const { return gang_ != nullptr && !gang_->Finished(); }
    QString recordFile() const;
    void setRecordFile(const QString& path);
    // The summary under the table ("3 boards: 2 passed, 1 failed").
    QString summary() const;

  signals:
    void runningChanged(bool running);

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void boardFinished(std::size_t index, const RunRecord& record, const Outcome& outcome);
    void showRunning(bool running);

    StationHooks hooks_;
    ShowMessageService dialogs_;
    QtUiHandover handover_;
    std::unique_ptr<GangRun> gang_;
    std::unique_ptr<RecordFile> record_;
    std::size_t boardCount_ = 0;
    std::size_t passed_ = 0;
    std::size_t failed_ = 0;
    std::size_t ended_ = 0;

    QListWidget* ports_ = nullptr;
    QLineEdit* otherPort_ = nullptr;
    QLineEdit* recordFile_ = nullptr;
    QTableWidget* boards_ = nullptr;
    QPushButton* program_ = nullptr;
    QPushButton* stop_ = nullptr;
    QLabel* summary_ = nullptr;
};

}  // namespace korvel::app
