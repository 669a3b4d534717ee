#pragma once

#include <QMainWindow>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "app/korvel_options.h"
#include "app/qt_ui_handover.h"
#include "app/show_message_service.h"
#include "app/single_instance.h"
#include "app/station_view.h"
#include "jobs/gang_run.h"
#include "package/tfilepro.h"
#include "procedures/package_kinds.h"
#include "procedures/run_preparation.h"

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QMenu;
class QTimer;
class QToolBar;

namespace korvel {
class Settings;
}

namespace korvel::app {

class ProgressBarControl;
class ResultBand;
class RunLogPane;
class StatusPanelControl;

// What the window reaches outside itself. Every member left empty gets the
// desktop's own behaviour; tests put their own in.
struct MainWindowHooks {
    // The procedures by package kind.
    std::span<const DriverEntry> drivers = StandardDrivers();
    // Ends the process at once with the code (Exit, unattended mode).
    std::function<void(int code)> endProcess;
    // The open dialog: the chosen file, or an empty text when cancelled.
    std::function<QString(QWidget* parent, const QString& filter)> chooseFile;
    // Opens a document with the desktop's default handler; false on failure.
    std::function<bool(const QString& path)> openDocument;
    // The help file; by default the executable's path with ".chm".
    QString helpFile;
    // Starts a run's worker thread; throws when the system cannot make one.
    // Empty: the run's own.
    std::function<void(GenericThread& thread)> startRun;
    // Edits the options: the new ones, or nullopt when cancelled. By
    // default the options dialog.
    std::function<std::optional<KorvelOptions>(QWidget* parent, const KorvelOptions& options)>
        editOptions;
    // Asks for the board id of the board on `port` (a scanner types it):
    // the id, or nullopt when cancelled. By default a small dialog.
    std::function<std::optional<std::string>(QWidget* parent, const QString& port)> askBoardId;
    // What the station view reaches outside itself.
    StationHooks station;
};

// The program's window: the loaded package, the port, and the run, started,
// stopped and reported here. The programming itself is the core's; the
// window only starts it and shows what it reports.
class TfrmMain : public QMainWindow {
    Q_OBJECT

  public:
    static constexpr int kPortCount = 255;
    explicit TfrmMain(MainWindowHooks hooks = {}, QWidget* parent = nullptr);
    ~TfrmMain() override;

    void ActionLoadExecute();
    void ActionProgramExecute();
    void ActionHelpExecute();
    void ActionExitExecute();
    void ComboBoxComChange();
    void StartTimerTimer();
    void OnRunFinished(const Outcome& outcome);
    void ActionOptionsExecute();
    void ActionStationExecute();
    // Loads the package at path as Load does after its file dialog.
    void OpenPackage(const QString& path);
    // A package handed over by a second start: loaded, or left (Busy) while
    // a run goes on, which keeps its package.
    SingleInstance::Answer ReceivePackage(const QString& path);

    void LoadPackage(std::string path);
    void SetControlsIdle(bool idle);
    std::string ReadFileVersion() const;

    bool running() const { return running_; }
    const std::string& programName() const { return programName_; }
    const TFilePro& package() const { return package_; }
    // True while a close waits for the run to end.
    bool closeRequested() const { return closeRequested_; }
    const KorvelOptions& options() const { return options_; }
    StationView* station() const { return Station; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void createActions();
    void createControls();
    // Shows what LoadPackage or a reload before a run found at path.
    void showPackage(const std::string& path, bool loaded);
    bool unattended() const;
    // The run cannot start after all: back to idle, with the reason.
    void refuseRun(int exitCode, const std::string& message);
    void showPortToolTip();
    QString portName() const;

    // The bench's additions around the design's window: result band, run
    // log, recent packages, options and the station.
    void createBenchActions();
    void createBenchControls();
    void fillBaudRates();
    void fillRecentMenu();
    void rememberPackage(const std::string& path);
    // What the options and settings choose for a run on ports, the board
    // ids asked (over asker) where the options want them; a refusal when
    // the run cannot start (an empty message: the user cancelled).
    std::optional<RunRefusal> runChoices(std::vector<RunPort> ports, QWidget* asker,
                                         RunChoices& choices);
    // Why the package at path may not be loaded (the station is pinned to
    // another); empty when it may.
    std::string pinRefusal(const std::string& path) const;
    // A load refused without a dialog: in the run log and the status bar.
    void noteRefusedLoad(const std::string& why);
    void showPinned();
    void showVerifyMode();
    void runStarted(const RunRequest& request);
    void showRunEnd(const Outcome& outcome);
    void applyOptions(const KorvelOptions& options);
    // Keeps the window at its contents' size as the run log folds.
    void fitToContents();
    bool busy() const;

    MainWindowHooks hooks_;
    Settings& settings_;
    // Declared before the run: its worker reads the package and waits on
    // the hand-over until it is joined.
    TFilePro package_;
    ShowMessageService dialogs_;
    QtUiHandover handover_;
    // One board: the window runs a station of one.
    std::unique_ptr<GangRun> lastRun_;

    bool running_ = false;
    bool finishing_ = false;
    bool closeRequested_ = false;
    bool centred_ = false;
    std::string programName_;
    KorvelOptions options_;
    bool programEnabledBeforeStation_ = false;

    QAction* ActionProgram = nullptr;
    QAction* ActionLoad = nullptr;
    QAction* ActionHelp = nullptr;
    QAction* ActionExit = nullptr;
    QToolBar* ToolBar = nullptr;
    QGroupBox* GroupBoxFileName = nullptr;
    QLabel* LabelFileName = nullptr;
    QLabel* PinnedMark = nullptr;
    QGroupBox* GroupBoxCom = nullptr;
    QComboBox* ComboBoxCom = nullptr;
    QGroupBox* GroupBoxBaudRate = nullptr;
    QComboBox* ComboBoxBaudRate = nullptr;
    QCheckBox* CheckBoxVerify = nullptr;
    ProgressBarControl* ProgressBar = nullptr;
    StatusPanelControl* PanelStatus = nullptr;
    QLabel* StatusBarDevice = nullptr;
    QLabel* StatusBarVersion = nullptr;
    QTimer* StartTimer = nullptr;
    QAction* ActionOptions = nullptr;
    QAction* ActionStation = nullptr;
    QMenu* RecentMenu = nullptr;
    ResultBand* Band = nullptr;
    RunLogPane* RunLog = nullptr;
    StationView* Station = nullptr;
};

}  // namespace korvel::app
