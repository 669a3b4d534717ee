// The worker's hand-over onto the Qt user-interface thread.
#include <QTest>
#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "app/qt_ui_handover.h"
#include "tests/gui/serve_events.h"

using korvel::app::QtUiHandover;
using korvel::test::ServeEventsUntil;
using namespace std::chrono_literals;

class QtUiHandoverTest : public QObject {
    Q_OBJECT

  private slots:
    void stepRunsOnTheUserInterfaceThreadWhileTheWorkerWaits() {
        QtUiHandover handover;
        const std::thread::id uiThread = std::this_thread::get_id();
        std::thread::id ranOn;
        std::atomic<bool> returned{false};
        bool sawStepResult = false;
        int value = 0;
        std::thread worker([&] {
            handover.Synchronize([&] {
                ranOn = std::this_thread::get_id();
                // The worker is still inside Synchronize while the step runs.
                QVERIFY(!returned);
                value = 42;
            });
            sawStepResult = value == 42;
            returned = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(returned, 5000);
        worker.join();
        QVERIFY(ranOn == uiThread);
        QVERIFY(sawStepResult);
    }

    void noWakeUpIsLostUnderLoad() {
        QtUiHandover handover;
        constexpr int kWorkers = 3;
        constexpr int kSteps = 3000;
        int counter = 0;  // touched only by the steps, on this thread
        std::atomic<int> finished{0};
        std::vector<std::thread> workers;
        for (int w = 0; w < kWorkers; ++w) {
            workers.emplace_back([&] {
                for (int i = 0; i < kSteps; ++i) {
                    handover.Synchronize([&] { ++counter; });
                }
                ++finished;
            });
        }
        QVERIFY(ServeEventsUntil([&] { return finished == kWorkers; }, 60000));
        for (std::thread& worker : workers) {
            worker.join();
        }
        QCOMPARE(counter, kWorkers * kSteps);
    }

    void shutdownReleasesAWaitingWorkerAndDropsItsStep() {
        QtUiHandover handover;
        std::atomic<bool> calling{false};
        bool stepRan = false;
        std::promise<void> returned;
        auto done = returned.get_future();
        std::thread worker([&] {
            calling = true;
            handover.Synchronize([&] { stepRan = true; });
            returned.set_value();
        });
        // This thread serves no events, as when it is about to join the worker.
        while (!calling) {
            std::this_thread::yield();
        }
        std::this_thread::sleep_for(20ms);
        QCOMPARE(done.wait_for(0ms), std::future_status::timeout);
        handover.Shutdown();
        QCOMPARE(done.wait_for(5s), std::future_status::ready);
        worker.join();
        // The queued step finds its request dropped: the worker's data is gone.
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents();
        QVERIFY(!stepRan);
    }

    void stepsAfterShutdownAreRefusedAtOnce() {
        QtUiHandover handover;
        handover.Shutdown();
        bool stepRan = false;
        std::thread worker([&] { handover.Synchronize([&] { stepRan = true; }); });
        worker.join();  // would hang if the worker waited for a step
        QCoreApplication::processEvents();
        QVERIFY(!stepRan);
    }

    void aStepAlreadyRunningFinishesBeforeItsWorkerGoesOn() {
        // A dialog is up (the step is running) when the window shuts down:
        // the worker must wait for the dialog's answer, not run on without it.
        QtUiHandover handover;
        std::atomic<bool> returned{false};
        int answer = 0;
        int seen = -1;
        std::thread worker([&] {
            handover.Synchronize([&] {
                handover.Shutdown();
                QTest::qWait(20);
                QVERIFY(!returned);
                answer = 6;
            });
            seen = answer;
            returned = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(returned, 5000);
        worker.join();
        QCOMPARE(seen, 6);
    }

    void postedStepsKeepTheirPlaceAndAreDroppedAtShutdown() {
        QtUiHandover handover;
        std::vector<int> order;  // touched only by the steps, on this thread
        std::atomic<bool> synchronized{false};
        std::atomic<bool> serving{true};
        std::thread worker([&] {
            handover.Post([&] { order.push_back(1); });
            handover.Synchronize([&] { order.push_back(2); });
            synchronized = true;
            while (serving) {
                std::this_thread::yield();
            }
            handover.Post([&] { order.push_back(3); });
        });
        QVERIFY(ServeEventsUntil([&] { return synchronized.load(); }));
        // This thread serves no events now: the worker must not wait for it.
        serving = false;
        worker.join();
        QCOMPARE(order, (std::vector<int>{1, 2}));
        handover.Shutdown();
        QCoreApplication::sendPostedEvents();
        QCOMPARE(order, (std::vector<int>{1, 2}));
    }

    void onTheUserInterfaceThreadTheStepRunsInline() {
        QtUiHandover handover;
        bool ran = false;
        handover.Synchronize([&] { ran = true; });
        QVERIFY(ran);
    }
};

QTEST_MAIN(QtUiHandoverTest)
#include "qt_ui_handover_test.moc"
