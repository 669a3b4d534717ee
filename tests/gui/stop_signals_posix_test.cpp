// The unattended window under a supervisor: SIGTERM or SIGHUP in the middle
// of a run stops the run, closes the port and ends the program with 5, as
// korvel-cli does. The real program runs against a pty that never answers.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <QProcess>
#include <QTest>
#include <csignal>
#include <filesystem>
#include <fstream>

#include "sim/package_writer.h"
#include "tests/support/temp_dir.h"

namespace {

// Waits up to timeoutMs for the program's first byte on the line; false
// when none comes.
bool FirstByteArrives(int master, int timeoutMs) {
    pollfd wait{master, POLLIN, 0};
    char byte = 0;
    return ::poll(&wait, 1, timeoutMs) == 1 && ::read(master, &byte, 1) == 1;
}

}  // namespace

class StopSignalsPosixTest : public QObject {
    Q_OBJECT

  private slots:
    void aStopSignalStopsTheUnattendedRunAndEndsWithFive() {
        const QByteArray exe = qgetenv("KORVEL_EXE");
        if (exe.isEmpty()) {
            QSKIP("KORVEL_EXE is not set (ctest sets it)");
        }
        korvel::test::TempDir dir;
        // Beside its own copy the program finds its own settings file.
        std::filesystem::create_directories(dir.path("bin"));
        const std::filesystem::path copy = dir.path("bin") / "korvel";
        std::filesystem::copy_file(exe.toStdString(), copy);
        const std::string hex = ":0400000001020304F2\r\n:00000001FF\r\n";
        const std::string package = dir.write(
            "fw.pr2",
            korvel::sim::BuildPackage({{"LPC2138", "1.00", 'F', {hex.begin(), hex.end()}}}));
        for (const int signal : {SIGTERM, SIGHUP}) {
            const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
            QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
            std::ofstream(dir.path("bin/korvel.ini"))
                << "[SETTINGS]\r\nSerialPort=9\r\n[PORTS]\r\nCOM9=" << ::ptsname(master) << "\r\n";
            QProcess process;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("QT_QPA_PLATFORM", "offscreen");
            process.setProcessEnvironment(env);
            process.start(QString::fromStdString(copy.string()),
                          {QString::fromStdString("-F" + package), "-RRUN", "-Uexit"});
            // The boot loader's synchronisation: the run holds the port.
            QVERIFY2(FirstByteArrives(master, 20000), "the run never wrote to the port");
            ::kill(static_cast<pid_t>(process.processId()), signal);
            QVERIFY(process.waitForFinished(20000));
            QCOMPARE(process.exitStatus(), QProcess::NormalExit);
            QCOMPARE(process.exitCode(), 5);
            ::close(master);
        }
    }
};

QTEST_MAIN(StopSignalsPosixTest)
#include "stop_signals_posix_test.moc"
