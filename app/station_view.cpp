#include "app/station_view.h"

#include <QAction>
#include <QCloseEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/progress_bar_control.h"
#include "app/status_panel_control.h"
#include "app/widget_helpers.h"
#include "jobs/run_messages.h"
#include "jobs/run_record_json.h"
#include "package/printable_text.h"
#include "serial/usb_port_info.h"

namespace korvel::app {

namespace {

enum Column { kPort, kBoardId, kSerial, kProgress, kStatus, kResult, kReason, kColumns };

constexpr int kDeviceRole = Qt::UserRole;

QString PortLabel(const AdapterPort& port) {
    QString label = QString::fromStdString(port.device) + QStringLiteral("  ") +
                    QString::fromStdString(port.name);
    if (!port.vidPid.empty()) {
        label += QStringLiteral("  ") + QString::fromStdString(port.vidPid);
    }
    if (!port.serial.empty()) {
        label += QStringLiteral("  #") + QString::fromStdString(port.serial);
    }
    return label;
}

}  // namespace

StationView::StationView(StationHooks hooks, QWidget* parent)
    : QWidget(parent, Qt::Window), hooks_(std::move(hooks)) {
    if (!hooks_.listPorts) {
        hooks_.listPorts = [] { return ListAdapterPorts(); };
    }
    if (!hooks_.chooseRecordFile) {
        hooks_.chooseRecordFile = ChooseRecordFile;
    }
    setObjectName(QStringLiteral("StationView"));
    setWindowTitle(QStringLiteral("Station"));

    auto* portsBox = new QGroupBox(QStringLiteral("Ports"), this);
    ports_ = Named(new QListWidget(portsBox), "StationPorts", QStringLiteral("Ports"),
                   QStringLiteral("The adapters present; tick one per board (Space ticks)"));
    otherPort_ = Named(new QLineEdit(portsBox), "StationOtherPort", QStringLiteral("Other port"),
                       QStringLiteral("A port the list does not show: a device path or COMn"));
    otherPort_->setPlaceholderText(QStringLiteral("/dev/ttyS0, COM5, usb:0403:6001:A1B2"));
    auto* add = Named(new QPushButton(QStringLiteral("&Add"), portsBox), "StationAddPort",
                      QStringLiteral("Add port"),
                      QStringLiteral("Adds the other port to the list, ticked"));
    auto* refresh = Named(new QPushButton(QStringLiteral("&Refresh"), portsBox), "StationRefresh",
                          QStringLiteral("Refresh ports"),
                          QStringLiteral("Lists the adapters present again (F5)"));
    connect(refresh, &QPushButton::clicked, this, &StationView::RefreshPorts);
    connect(add, &QPushButton::clicked, this, [this] { AddPort(otherPort_->text().trimmed()); });
    connect(otherPort_, &QLineEdit::returnPressed, add, &QPushButton::click);
    ports_->setMaximumHeight(ports_->fontMetrics().lineSpacing() * 6);
    auto* portsLayout = new QGridLayout(portsBox);
    portsLayout->addWidget(ports_, 0, 0, 1, 3);
    portsLayout->addWidget(otherPort_, 1, 0);
    portsLayout->addWidget(add, 1, 1);
    portsLayout->addWidget(refresh, 1, 2);

    auto* recordLabel = new QLabel(QStringLiteral("Re&cord file:"), this);
    recordFile_ = Named(new QLineEdit(this), "StationRecordFile", QStringLiteral("Record file"),
                        QStringLiteral("Each board's record is appended to this file as one "
                                       "JSON line; empty: no record"));
    recordLabel->setBuddy(recordFile_);
    auto* chooseRecord =
        Named(new QPushButton(QStringLiteral("C&hoose..."), this), "StationChooseRecordFile",
              QStringLiteral("Choose record file"), QStringLiteral("Picks the record file"));
    connect(chooseRecord, &QPushButton::clicked, this, [this] {
        const QString chosen = hooks_.chooseRecordFile(this, recordFile_->text());
        if (!chosen.isEmpty()) {
            recordFile_->setText(chosen);
        }
    });

    boards_ = Named(new QTableWidget(0, kColumns, this), "StationBoards", QStringLiteral("Boards"),
                    QStringLiteral("One row per board: port, board id and serial number (when "
                                   "given), progress, status, result, reason"));
    boards_->setHorizontalHeaderLabels({QStringLiteral("Port"), QStringLiteral("Board id"),
                                        QStringLiteral("Serial"), QStringLiteral("Progress"),
                                        QStringLiteral("Status"), QStringLiteral("Result"),
                                        QStringLiteral("Reason")});
    boards_->horizontalHeader()->setStretchLastSection(true);
    boards_->verticalHeader()->hide();
    boards_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    boards_->setSelectionBehavior(QAbstractItemView::SelectRows);
    boards_->setTabKeyNavigation(false);
    boards_->setMinimumSize(760, 150);
    boards_->setWordWrap(false);
    const struct {
        Column column;
        int width;
    } widths[] = {{kPort, 130},     {kBoardId, 110}, {kSerial, 90},
                  {kProgress, 110}, {kStatus, 150},  {kResult, 170}};
    for (const auto& w : widths) {
        boards_->setColumnWidth(w.column, w.width);
    }
    boards_->setColumnHidden(kBoardId, true);
    boards_->setColumnHidden(kSerial, true);

    summary_ = new QLabel(this);
    summary_->setObjectName(QStringLiteral("StationSummary"));
    summary_->setTextFormat(Qt::PlainText);
    summary_->setWordWrap(true);
    summary_->setAccessibleName(QStringLiteral("Station summary"));
    program_ = Named(new QPushButton(QStringLiteral("&Program"), this), "StationProgram",
                     QStringLiteral("Program"),
                     QStringLiteral("Programs the package into every ticked port's board (F3)"));
    stop_ = Named(new QPushButton(QStringLiteral("&Stop"), this), "StationStop",
                  QStringLiteral("Stop"), QStringLiteral("Stops every run that can be (Esc)"));
    connect(program_, &QPushButton::clicked, this, &StationView::ProgramAll);
    connect(stop_, &QPushButton::clicked, this, &StationView::StopAll);
    // The keys as the station's actions: they work wherever its focus is.
    const struct {
        const char* name;
        QKeySequence key;
        void (StationView::*run)();
    } keys[] = {
        {"StationActionProgram", QKeySequence(Qt::Key_F3), &StationView::ProgramAll},
        {"StationActionStop", QKeySequence(Qt::Key_Escape), &StationView::StopAll},
        {"StationActionRefresh", QKeySequence(Qt::Key_F5), &StationView::RefreshPorts},
    };
    for (const auto& k : keys) {
        auto* action = new QAction(this);
        action->setObjectName(QString::fromLatin1(k.name));
        action->setShortcut(k.key);
        connect(action, &QAction::triggered, this, k.run);
        addAction(action);
    }

    auto* recordRow = new QHBoxLayout;
    recordRow->addWidget(recordLabel);
    recordRow->addWidget(recordFile_, 1);
    recordRow->addWidget(chooseRecord);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(summary_, 1);
    buttons->addWidget(program_);
    buttons->addWidget(stop_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(portsBox);
    layout->addLayout(recordRow);
    layout->addWidget(boards_, 1);
    layout->addLayout(buttons);
    showRunning(false);
    RefreshPorts();
}

StationView::~StationView() {
    if (gang_ != nullptr) {
        // Like the window: stop, release the workers' hand-overs, wait for them.
        gang_->Stop();
        handover_.Shutdown();
        gang_.reset();
    }
}

void StationView::RefreshPorts() {
    // Ticks survive a refresh for the ports still there.
    QStringList ticked;
    for (int i = 0; i < ports_->count(); ++i) {
        if (ports_->item(i)->checkState() == Qt::Checked) {
            ticked << ports_->item(i)->data(kDeviceRole).toString();
        }
    }
    ports_->clear();
    for (const AdapterPort& port : hooks_.listPorts()) {
        auto* item = new QListWidgetItem(PortLabel(port), ports_);
        const QString device = QString::fromStdString(port.device);
        item->setData(kDeviceRole, device);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(ticked.contains(device) ? Qt::Checked : Qt::Unchecked);
    }
    if (ports_->count() == 0) {
        summary_->setText(
            QStringLiteral("No serial adapter is plugged in: plug one in and press "
                           "Refresh, or add a port by its name."));
    }
}

void StationView::AddPort(const QString& device) {
    if (device.isEmpty()) {
        return;
    }
    auto* item = new QListWidgetItem(device, ports_);
    item->setData(kDeviceRole, device);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Checked);
    otherPort_->clear();
}

QString StationView::recordFile() const {
    return recordFile_->text();
}

void StationView::setRecordFile(const QString& path) {
    recordFile_->setText(path);
}

QString StationView::summary() const {
    return summary_->text();
}

void StationView::ProgramAll() {
    if (running()) {
        return;
    }
    std::vector<RunPort> ports;
    std::vector<std::string> problems;
    for (int i = 0; i < ports_->count(); ++i) {
        if (ports_->item(i)->checkState() != Qt::Checked) {
            continue;
        }
        RunPort port;
        port.name = ports_->item(i)->data(kDeviceRole).toString().toStdString();
        port.number = kFirstPortNumber + static_cast<int>(ports.size());
        // An adapter that is gone keeps its name: its run says the port did not open.
        problems.emplace_back();
        MapPortName(port.number, port.name, problems.back());
        ports.push_back(port);
    }
    if (ports.empty()) {
        summary_->setText(QStringLiteral("Tick the port of each board to program."));
        return;
    }
    // The record file first: a request may take serial numbers from the
    // counter, which a run that cannot be recorded must not spend.
    record_.reset();
    if (const std::string file = recordFile_->text().toStdString(); !file.empty()) {
        std::string error;
        record_ = RecordFile::Open(file, error);
        if (!record_) {
            summary_->setText(QStringLiteral("The record file %1 cannot be opened: %2. No board "
                                             "was programmed: choose a file that can be written.")
                                  .arg(recordFile_->text(), QString::fromStdString(error)));
            return;
        }
    }
    std::string whyNot;
    const std::optional<RunRequest> request =
        this->request ? this->request(ports, whyNot) : std::nullopt;
    if (!request) {
        summary_->setText(QString::fromStdString(whyNot));
        return;
    }

    // The last gang has ended: its workers are done or about to be.
    gang_.reset();
    boards_->setRowCount(0);
    passed_ = failed_ = ended_ = 0;
    boardCount_ = ports.size();
    std::vector<GangBoard> boards;
    bool boardIds = false;
    bool serials = false;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const int row = static_cast<int>(i);
        const RunPort& port = request->ports[i];
        boards_->insertRow(row);
        boards_->setItem(row, kPort, new QTableWidgetItem(QString::fromStdString(ports[i].name)));
        const std::string id = PrintableText(port.boardId);
        boards_->setItem(row, kBoardId, new QTableWidgetItem(QString::fromStdString(id)));
        boards_->setItem(
            row, kSerial,
            new QTableWidgetItem(port.serial ? QString::number(*port.serial) : QString()));
        boardIds = boardIds || !port.boardId.empty();
        serials = serials || port.serial.has_value();
        auto* progress = new ProgressBarControl(boards_);
        auto* status = new StatusPanelControl(boards_);
        status->setText(problems[i]);
        boards_->setCellWidget(row, kProgress, progress);
        boards_->setCellWidget(row, kStatus, status);
        boards_->setItem(row, kResult, new QTableWidgetItem);
        boards_->setItem(row, kReason, new QTableWidgetItem);
        boards.push_back({progress, status, &dialogs_});
    }

    // Only what this run gives: most stations number no boards.
    boards_->setColumnHidden(kBoardId, !boardIds);
    boards_->setColumnHidden(kSerial, !serials);

    gang_ = std::make_unique<GangRun>(handover_, hooks_.drivers);
    gang_->OnBoardFinished = [this](std::size_t index, const RunRecord& record,
                                    const Outcome& outcome) {
        boardFinished(index, record, outcome);
    };
    showRunning(true);
    summary_->setText(QStringLiteral("Programming %1 boards...").arg(ports.size()));
    gang_->Start(*request, boards);
}

void StationView::boardFinished(std::size_t index, const RunRecord& record,
                                const Outcome& outcome) {
    const int row = static_cast<int>(index);
    const std::string result = ResultMessage(outcome.result, record.port).value_or("Aborted");
    std::string reason = outcome.reason;
    // On the disk before the result shows: the file is the station's proof.
    if (record_ != nullptr) {
        std::string error;
        if (!record_->Append(RunRecordJson(record), error)) {
            reason +=
                (reason.empty() ? "" : "; ") + std::string("the record was not written: ") + error;
        }
    }
    boards_->item(row, kResult)->setText(QString::fromStdString(result));
    boards_->item(row, kReason)->setText(QString::fromStdString(reason));
    outcome.result == RunResult::Success ? ++passed_ : ++failed_;
    if (++ended_ == boardCount_) {
        summary_->setText(QStringLiteral("%1 boards: %2 passed, %3 failed")
                              .arg(boardCount_)
                              .arg(passed_)
                              .arg(failed_));
        showRunning(false);
    }
}

void StationView::StopAll() {
    if (running() && !gang_->Stop()) {
        summary_->setText(
            QStringLiteral("A boot monitor run cannot be stopped; it ends by itself."));
    }
}

void StationView::showRunning(bool running) {
    program_->setEnabled(!running);
    stop_->setEnabled(running);
    ports_->setEnabled(!running);
    recordFile_->setEnabled(!running);
    emit runningChanged(running);
}

void StationView::closeEvent(QCloseEvent* event) {
    // The view goes only when its boards are done: a run in a hidden window
    // could not be stopped.
    if (running()) {
        event->ignore();
        StopAll();
        return;
    }
    event->accept();
}

}  // namespace korvel::app
