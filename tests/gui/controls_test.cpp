// The window's small parts: the progress and status adapters, the title's
// version, and the icons.
#include <QImage>
#include <QTest>

#include "app/file_version.h"
#include "app/icon_set.h"
#include "app/progress_bar_control.h"
#include "app/status_panel_control.h"

using namespace korvel::app;

namespace {

// How many pixels of the image are not transparent.
int OpaquePixels(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            count += qAlpha(image.pixel(x, y)) > 0 ? 1 : 0;
        }
    }
    return count;
}

}  // namespace

class ControlsTest : public QObject {
    Q_OBJECT

  private slots:
    void progressBarStartsAtZeroAndStepsFromWhatItShows() {
        ProgressBarControl bar;
        QCOMPARE(bar.position(), 0);
        bar.setMaximum(10);
        bar.setPosition(4);
        bar.setPosition(bar.position() + 3);
        QCOMPARE(bar.position(), 7);
        QCOMPARE(bar.value(), 7);
    }

    void progressBarHoldsPositionsOutsideItsRangeAtTheEnds() {
        ProgressBarControl bar;
        bar.setMaximum(100);
        bar.setPosition(150);
        QCOMPARE(bar.position(), 100);
        bar.setPosition(-5);
        QCOMPARE(bar.position(), 0);
        bar.setPosition(80);
        bar.setMaximum(50);  // a new, smaller range pulls the position down with it
        QCOMPARE(bar.position(), 50);
        QCOMPARE(bar.maximum(), 50);
        bar.setMaximum(200);
        QCOMPARE(bar.position(), 50);
        // Nothing to measure (an image under 1 KB) never makes the bar busy.
        for (int nothing : {0, -1}) {
            bar.setPosition(40);
            bar.setMaximum(nothing);
            QVERIFY(bar.maximum() > bar.minimum());
            QCOMPARE(bar.position(), 0);
        }
        bar.reset();  // what the toolkit does to a bar it clears
        QCOMPARE(bar.position(), 0);
    }

    void statusPanelShowsTextAsItIs() {
        StatusPanelControl panel;
        panel.setText(std::string("<b>Erase</b> & verify"));
        QCOMPARE(panel.text(), QString("<b>Erase</b> & verify"));
        QCOMPARE(panel.textFormat(), Qt::PlainText);
    }

    void fileVersionForTheTitle_data() {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("shown");
        QTest::newRow("build version") << "1.64.0.44"
                                       << "1.064";
        QTest::newRow("three digits kept") << "2.123.1.0"
                                           << "2.123";
        QTest::newRow("more than three digits") << "3.1234.0.0"
                                                << "3.1234";
        QTest::newRow("single digit") << "1.5.0.0"
                                      << "1.005";
        QTest::newRow("one dot") << "1.64"
                                 << "1.064";
        QTest::newRow("no dot") << "7"
                                << "7.000";
        QTest::newRow("minor not a number") << "1.x.0.0"
                                            << "1.000";
        QTest::newRow("minor empty") << "1..0.0"
                                     << "1.000";
        QTest::newRow("minor negative") << "1.-4.0"
                                        << "1.000";
        QTest::newRow("no version") << ""
                                    << "";
    }
    void fileVersionForTheTitle() {
        QFETCH(QString, version);
        QFETCH(QString, shown);
        QCOMPARE(QString::fromStdString(FormatFileVersion(version.toStdString())), shown);
    }

    void everyIconDrawsSharplyAtAnyScale() {
        const QList<QIcon> icons = {
            ActionIcon(ActionImage::Program),
            ActionIcon(ActionImage::Load),
            ActionIcon(ActionImage::Help),
            ActionIcon(ActionImage::Exit),
            ActionIcon(ActionImage::Stop),
            DialogIcon(DialogPicture::Confirm),
            DialogIcon(DialogPicture::Refuse),
            DialogIcon(DialogPicture::No),
            ProgramIcon(),
        };
        for (const QIcon& icon : icons) {
            QVERIFY(!icon.isNull());
            const QImage normal = icon.pixmap(QSize(32, 32), 1.0).toImage();
            QCOMPARE(normal.size(), QSize(32, 32));
            QVERIFY2(OpaquePixels(normal) > 32 * 32 / 4, "the image is (almost) empty");
            // On a screen at 200 % the icon is drawn anew with twice the pixels.
            const QImage doubled = icon.pixmap(QSize(32, 32), 2.0).toImage();
            QCOMPARE(doubled.size(), QSize(64, 64));
            QVERIFY(OpaquePixels(doubled) > 3 * OpaquePixels(normal));
        }
        // Program and Stop are told apart at a glance.
        QVERIFY(ActionIcon(ActionImage::Program).pixmap(32).toImage() !=
                ActionIcon(ActionImage::Stop).pixmap(32).toImage());
    }
};

QTEST_MAIN(ControlsTest)
#include "controls_test.moc"
