// SPDX-License-Identifier: GPL-3.0-or-later
// A run's marks drawn on the charts: operator marks solid, the program's events dashed, both in
// saved images; labels that never cover one another however many marks there are.

#include "acquisition/marks/runmarker.h"
#include "charts/chartfeeder.h"
#include "charts/chartimage.h"
#include "charts/chartmarks.h"
#include "charts/chartmarksview.h"
#include "data/runmarks.h"
#include "support/acquisitionrig.h"

#include <QComboBox>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// The share of the plot area's rows, below the labels' rows, where column x has exactly colour.
double columnShare(const QImage &image, const QRect &area, int x, const QColor &colour)
{
    int hits = 0, rows = 0;
    // Above the ticks of the time axis.
    for (int y = area.top() + area.height() / 2; y < area.bottom() - 8; ++y, ++rows)
        hits += (image.pixel(x, y) | 0xff000000u) == colour.rgb() ? 1 : 0;
    return double(hits) / rows;
}

} // namespace

class TestChartMarks : public QObject
{
    Q_OBJECT

private slots:
    void marksAreDrawnSolidOrDashedAndSaved();
    void labelsNeverCoverOneAnother();
    void manyMarksKeepWhatIsHeldBounded();
};

void TestChartMarks::marksAreDrawnSolidOrDashedAndSaved()
{
    QTemporaryDir dir;
    AcquisitionRig rig(1);
    rig.tick(1);
    rig.start();
    rig.send("10,5\n");
    QTRY_COMPARE(rig.records(), 1);
    rig.pause();
    ChartFeeder *feeder = rig.window->chartFeeder();
    QCustomPlot *flux = feeder->chart(0);
    QCustomPlot *temperature = feeder->chart(1);
    RunMarks *marks = rig.window->runMarker()->marks();
    ChartMarks *drawn = rig.window->runMarker()->chartView()->chartMarks(1);

    const QString before = dir.filePath(QStringLiteral("before.png"));
    QString error;
    const ChartsPicture picture; // no title or legend, at one pixel per chart pixel
    QVERIFY(saveChartsImage({flux, temperature}, picture, before, &error));
    marks->addEvent(10, RunEventKind::UnitLost, QStringLiteral("Unit lost"));
    marks->addMark(20);
    QTRY_COMPARE(drawn->drawnLabels(), 4); // with Start and Pause
    const QString after = dir.filePath(QStringLiteral("after.png"));
    QVERIFY(saveChartsImage({flux, temperature}, picture, after, &error));

    // In the image, on each chart: the mark a solid line, the event a dashed one.
    const QImage image(after);
    const QImage plain(before);
    const ChartsPictureLayout layout = layOutChartsPicture({flux, temperature}, picture, &image);
    for (QCustomPlot *c : {flux, temperature}) {
        const QRect area =
            c->axisRect()->rect().translated(layout.charts[c == flux ? 0 : 1].topLeft().toPoint());
        const int markX = int(std::round(c->xAxis->coordToPixel(20)));
        const int eventX = int(std::round(c->xAxis->coordToPixel(10)));
        QCOMPARE(columnShare(plain, area, markX, ChartMarks::operatorColour()), 0.0);
        QCOMPARE(columnShare(image, area, markX, ChartMarks::operatorColour()), 1.0);
        const double dashed = columnShare(image, area, eventX, ChartMarks::programColour());
        QVERIFY2(dashed > 0.3 && dashed < 0.8, qPrintable(QString::number(dashed)));
    }
    // The chart on screen shows them too, and a record's redraw leaves them as they are.
    const QImage shown = temperature->grab().toImage();
    rig.start();
    rig.send("12,6\n");
    QTRY_COMPARE(rig.records(), 2);
    feeder->redraw();
    const QImage afterRecord = temperature->grab().toImage();
    const int x = int(std::round(temperature->xAxis->coordToPixel(20)));
    const QRect area = temperature->axisRect()->rect();
    QCOMPARE(columnShare(afterRecord, area, x, ChartMarks::operatorColour()), 1.0);
    QCOMPARE(columnShare(shown, area, x, ChartMarks::operatorColour()), 1.0);

    // Deleted, it is gone from the chart.
    marks->deleteMark(1);
    QTRY_COMPARE(drawn->drawnLabels(), 4); // the Start, Pause, Unit lost and second Start
    QCOMPARE(columnShare(temperature->grab().toImage(), area, x, ChartMarks::operatorColour()), 0.0);
}

void TestChartMarks::labelsNeverCoverOneAnother()
{
    AcquisitionRig rig(1);
    RunMarks *marks = rig.window->runMarker()->marks();
    for (int i = 0; i < 300; ++i) {
        if (i % 3 == 0)
            marks->addEvent(0.1 * i, RunEventKind::UnitSilent, QStringLiteral("Unit silent for 5 s"));
        else
            marks->addMark(0.1 * i);
    }
    marks->setNote(1, QString(300, QLatin1Char('w'))); // cut short on the chart
    ChartMarks *drawn = rig.window->runMarker()->chartView()->chartMarks(0);
    QTRY_VERIFY(drawn->drawnLabels() > 0);
    QCustomPlot *flux = rig.window->chartFeeder()->chart(0);
    const QRect area = flux->axisRect()->rect();
    QList<QRectF> labels;
    for (int entry = 0; entry < marks->entries().size(); ++entry) {
        const QRectF label = drawn->labelRect(entry);
        if (label.isEmpty())
            continue;
        QVERIFY(QRectF(area).contains(label));
        QVERIFY(label.width() <= ChartMarks::MaxLabelWidth + 10);
        for (const QRectF &other : qAsConst(labels))
            QVERIFY(!label.intersects(other));
        labels << label;
        // Each label is at its own line (beside it, or pushed left by the chart's edge).
        const double x = flux->xAxis->coordToPixel(marks->entries()[entry].event.time);
        QVERIFY(label.left() >= x || label.right() >= area.right() - 1);
    }
    // The lines, many as they are: a mark solid, an event dashed, where each has a column alone.
    QSet<int> markColumns, eventColumns;
    for (const RunMarks::Entry &e : marks->entries())
        (e.isMark() ? markColumns : eventColumns) << int(std::round(flux->xAxis->coordToPixel(e.event.time)));
    QCOMPARE(drawn->drawnLines(), markColumns.size() + eventColumns.size()); // one per column and style
    const QImage image = flux->grab().toImage();
    // In the middle, away from the axes drawn over the plot area's edges.
    const QSet<int> both = QSet<int>(markColumns).intersect(eventColumns);
    const auto middleOf = [](const QSet<int> &columns) {
        QList<int> sorted = columns.values();
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() / 2];
    };
    const int markAlone = middleOf(markColumns - both);
    const int eventAlone = middleOf(eventColumns - both);
    QCOMPARE(columnShare(image, area, markAlone, ChartMarks::operatorColour()), 1.0);
    const double dashed = columnShare(image, area, eventAlone, ChartMarks::programColour());
    QVERIFY2(dashed > 0.3 && dashed < 0.8, qPrintable(QString::number(dashed)));

    QVERIFY2(labels.size() >= 3 && labels.size() < 300, qPrintable(QString::number(labels.size())));
    // A mark without a label is still found under the mouse.
    const int last = marks->entries().size() - 1;
    const double x = std::round(flux->xAxis->coordToPixel(marks->entries()[last].event.time));
    const int found = drawn->markAt(QPointF(x - 1, area.bottom() - 5));
    QVERIFY2(found >= last - 1,
             qPrintable(
                 QStringLiteral("%1 at %2 in %3..%4").arg(found).arg(x).arg(area.left()).arg(area.right())));
}

// Hundreds of thousands of marks (a flaky unit's events over days, a hostile description): what
// the charts keep of them is bounded by the chart's width, and each is still found and listed.
void TestChartMarks::manyMarksKeepWhatIsHeldBounded()
{
    AcquisitionRig rig(1);
    RunMarks *marks = rig.window->runMarker()->marks();
    constexpr int Count = 200000;
    for (int i = 0; i < Count; ++i) {
        if (i % 3 == 2)
            marks->addEvent(100.0 * i / Count, RunEventKind::UnitSilent,
                            QStringLiteral("Unit silent for 5 s"));
        else
            marks->addMark(100.0 * i / Count);
    }
    QCustomPlot *flux = rig.window->chartFeeder()->chart(0);
    flux->xAxis->setRange(0, 100);
    rig.window->chartFeeder()->redraw(true);
    for (int c = 0; c < 2; ++c) {
        ChartMarks *drawn = rig.window->runMarker()->chartView()->chartMarks(c);
        const int width = rig.window->chartFeeder()->chart(c)->axisRect()->width();
        QVERIFY2(drawn->drawnLines() > width && drawn->drawnLines() <= 2 * (width + 1),
                 qPrintable(QString::number(drawn->drawnLines())));
        QVERIFY(drawn->drawnLabels() > 0 && drawn->keptLabels() <= ChartMarks::MaxKeptLabels);
    }
    // Every column still answers a hover with one of its marks.
    ChartMarks *drawn = rig.window->runMarker()->chartView()->chartMarks(0);
    const QRect area = flux->axisRect()->rect();
    const int entry = drawn->markAt(QPointF(area.center().x(), area.bottom() - 10));
    QVERIFY(entry >= 0 && std::abs(flux->xAxis->coordToPixel(marks->entries()[entry].event.time) -
                                   area.center().x()) <= ChartMarks::HitDistance + 0.5);
    // The statistics' stretch between marks lists them all.
    QTRY_COMPARE(rig.window->findChild<QComboBox *>(QStringLiteral("fromMarkBox"))->count(), Count);
}

QTEST_MAIN(TestChartMarks)
#include "tst_chartmarks.moc"
