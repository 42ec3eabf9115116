// The strip files as written, apart from the window and the batch tool.
#include "export/stripexport.h"

#include <QTemporaryDir>
#include <QtTest>

class TestExport : public QObject
{
    Q_OBJECT

private slots:
    void resolutionDoesNotFollowTheScreen();

private:
    QTemporaryDir dir;
};

void TestExport::resolutionDoesNotFollowTheScreen()
{
    // The files say 96 dpi whatever the screen, so a window on a HiDPI desktop
    // and the batch tool without a display write the same bytes.
    StripSet strips;
    strips.average.append(QColor(10, 20, 30));
    const QString base = dir.filePath(QStringLiteral("dpi"));
    QVERIFY(writeStrips(strips, base, savedStripKinds()).isEmpty());
    const QImage saved(base + QStringLiteral("-averageDisplay.bmp"));
    QCOMPARE(saved.dotsPerMeterX(), 3780);
    QCOMPARE(saved.dotsPerMeterY(), 3780);
}

QTEST_GUILESS_MAIN(TestExport)
#include "test_export.moc"
