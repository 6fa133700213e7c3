// SPDX-License-Identifier: GPL-3.0-or-later
#include "charts/chartmarks.h"

#include "data/runmarks.h"

#include <QFontMetrics>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {
constexpr double Gap = 3;     // between a line and its label, and between labels in a row
constexpr double Padding = 3; // inside a label
} // namespace

ChartMarks::ChartMarks(QCustomPlot *chart, const RunMarks *marks) : QCPLayerable(chart), marks(marks)
{
    if (!chart->layer(layerName())) {
        QCPLayer *curves = chart->layer(QStringLiteral("main"));
        chart->addLayer(layerName(), curves ? curves : chart->currentLayer(), QCustomPlot::limAbove);
    }
    setLayer(layerName());
}

void ChartMarks::applyDefaultAntialiasingHint(QCPPainter *painter) const
{
    // Crisp one-pixel lines, and cheaper than blended ones.
    painter->setAntialiasing(false);
}

QRect ChartMarks::clipRect() const
{
    return mParentPlot->axisRect()->rect();
}

const ChartMarks::Label &ChartMarks::labelOf(int entry)
{
    auto found = labels.find(entry);
    if (found != labels.end())
        return *found;
    if (labels.size() >= MaxKeptLabels)
        labels.clear();
    Label &label = labels[entry];
    const QFontMetrics metrics(font);
    const QString text =
        metrics.elidedText(marks->entries()[entry].event.note, Qt::ElideRight, MaxLabelWidth);
    label.width = metrics.horizontalAdvance(text);
    // Laid out once, drawn many times.
    label.text.setText(text);
    label.text.setTextFormat(Qt::PlainText);
    label.text.prepare(QTransform(), font);
    return label;
}

QVector<ChartMarks::Drawn> ChartMarks::layOut(const QRect &area, QVector<QLine> (&lines)[2])
{
    // The entries in view by pixel column: 8 bytes each while drawing, nothing kept.
    struct InView
    {
        int x;
        int entry;
    };
    std::vector<InView> inView;
    const QVector<RunMarks::Entry> &entries = marks->entries();
    QCPAxis *keyAxis = mParentPlot->xAxis;
    for (int i = 0; i < entries.size(); ++i) {
        if (entries[i].deleted)
            continue;
        const double x = std::round(keyAxis->coordToPixel(entries[i].event.time));
        if (std::isfinite(x) && x >= area.left() && x <= area.right())
            inView.push_back({int(x), i});
    }
    // Marks come in time order as a rule: then there is nothing to sort.
    const auto byX = [](const InView &a, const InView &b) { return a.x < b.x; };
    if (!std::is_sorted(inView.begin(), inView.end(), byX))
        std::stable_sort(inView.begin(), inView.end(), byX);

    // The lines in two batches, one per style, at most one line per pixel column in each.
    int lastColumn[2] = {std::numeric_limits<int>::min(), std::numeric_limits<int>::min()};
    for (const InView &v : inView) {
        const int style = entries[v.entry].isMark() ? 0 : 1;
        if (v.x == lastColumn[style])
            continue;
        lastColumn[style] = v.x;
        lines[style].append(QLine(v.x, area.top(), v.x, area.bottom()));
    }

    // Each label goes into the first row where it covers no other, or is left out. A label is
    // made only for an entry that may find a row: one starts at x + Gap at most.
    QVector<Drawn> shown;
    const double height = QFontMetrics(font).height() + 2 * Padding;
    double rowEnds[LabelRows];
    std::fill(std::begin(rowEnds), std::end(rowEnds), -1e300);
    int lastShownColumn = std::numeric_limits<int>::min();
    for (const InView &v : inView) {
        QRectF placed;
        const double freeFrom = *std::min_element(std::begin(rowEnds), std::end(rowEnds)) + Gap;
        if (std::max<double>(area.left(), v.x + Gap) >= freeFrom) {
            const Label &label = labelOf(v.entry);
            if (!label.text.text().isEmpty()) {
                const double width = label.width + 2 * Padding;
                const double left = std::max<double>(area.left(), std::min(v.x + Gap, area.right() - width));
                for (int row = 0; row < LabelRows; ++row) {
                    if (left >= rowEnds[row] + Gap) {
                        placed = QRectF(left, area.top() + Gap + row * (height + 1), width, height);
                        rowEnds[row] = placed.right();
                        break;
                    }
                }
            }
        }
        if (!placed.isEmpty() || v.x != lastShownColumn)
            shown.append({v.entry, double(v.x), placed});
        lastShownColumn = v.x;
    }
    return shown;
}

void ChartMarks::draw(QCPPainter *painter)
{
    const QFont axisFont = mParentPlot->xAxis->tickLabelFont();
    if (axisFont != font) {
        font = axisFont;
        labels.clear();
    }
    const QRect area = clipRect();
    QVector<QLine> lines[2];
    drawn = layOut(area, lines);
    lineCount = int(lines[0].size() + lines[1].size());
    if (drawn.isEmpty())
        return;

    // Operator marks over the program's events where they share a column.
    if (lines[0].size() + lines[1].size() > ManyLines &&
        !painter->modes().testFlag(QCPPainter::pmVectorized)) {
        drawAsPicture(painter, area, lines);
    } else {
        // Cosmetic pens are rasterised directly; others, dashed above all, are stroked as paths.
        QPen pen(programColour(), 1, Qt::CustomDashLine);
        pen.setDashPattern({DashOn, DashOff});
        pen.setCosmetic(true);
        painter->setPen(pen);
        painter->drawLines(lines[1]);
        pen.setColor(operatorColour());
        pen.setStyle(Qt::SolidLine);
        painter->setPen(pen);
        painter->drawLines(lines[0]);
    }
    painter->setFont(font);
    for (const Drawn &d : qAsConst(drawn)) {
        if (d.label.isEmpty())
            continue;
        const bool mark = marks->entries()[d.entry].isMark();
        const QColor colour = mark ? operatorColour() : programColour();
        painter->setPen(mark ? QPen(colour, 1) : QPen(Qt::NoPen));
        painter->setBrush(QColor(255, 255, 255, 225));
        painter->drawRect(d.label.adjusted(0, 0, -1, -1));
        painter->setPen(colour);
        painter->drawStaticText(d.label.topLeft() + QPointF(Padding, Padding), labelOf(d.entry).text);
    }
}

bool ChartMarks::isCurrent(int entry) const
{
    // What was drawn may be older than the latest change.
    return entry < marks->entries().size() && !marks->entries()[entry].deleted;
}

void ChartMarks::drawAsPicture(QCPPainter *painter, const QRect &area, const QVector<QLine> (&lines)[2])
{
    // All lines are vertical and as tall as the plot area: the picture has two kinds of rows,
    // those where dashes are on and those where they are off. Each is made once and copied into
    // place, then the picture is blended in one go. Drawn one at a time, the lines would cost
    // the rasteriser tens of instructions for every pixel. In device pixels, one wide, as a
    // cosmetic pen draws them.
    const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    const QSize size(int(std::ceil(area.width() * ratio)), int(std::ceil(area.height() * ratio)));
    if (picture.size() != size)
        picture = QImage(size, QImage::Format_ARGB32_Premultiplied);
    picture.setDevicePixelRatio(ratio);
    QVector<QRgb> dashOn(size.width(), 0), dashOff(size.width(), 0);
    const auto column = [&](const QLine &line) {
        const int x = int(std::round((line.x1() - area.left()) * ratio));
        return x >= 0 && x < size.width() ? x : -1;
    };
    // Opaque colours are premultiplied as they are; operator marks over the program's events.
    for (const QLine &line : lines[1]) {
        if (const int x = column(line); x >= 0)
            dashOn[x] = programColour().rgba();
    }
    for (const QLine &line : lines[0]) {
        if (const int x = column(line); x >= 0)
            dashOn[x] = dashOff[x] = operatorColour().rgba();
    }
    const size_t rowBytes = size_t(size.width()) * sizeof(QRgb);
    for (int y = 0; y < size.height(); ++y) {
        const bool on = y % (DashOn + DashOff) < DashOn;
        std::memcpy(picture.scanLine(y), (on ? dashOn : dashOff).constData(), rowBytes);
    }
    painter->drawImage(area.topLeft(), picture);
}

int ChartMarks::labelAt(const QPointF &pos) const
{
    for (const Drawn &d : drawn) {
        if (d.label.contains(pos) && isCurrent(d.entry))
            return d.entry;
    }
    return -1;
}

int ChartMarks::markAt(const QPointF &pos) const
{
    const int onLabel = labelAt(pos);
    if (onLabel >= 0)
        return onLabel;
    if (!clipRect().contains(pos.toPoint()))
        return -1;
    int nearest = -1;
    double distance = HitDistance + 0.5;
    for (const Drawn &d : drawn) {
        if (std::abs(d.x - pos.x()) < distance && isCurrent(d.entry)) {
            distance = std::abs(d.x - pos.x());
            nearest = d.entry;
        }
    }
    return nearest;
}

QRectF ChartMarks::labelRect(int entry) const
{
    for (const Drawn &d : drawn) {
        if (d.entry == entry)
            return d.label;
    }
    return QRectF();
}

int ChartMarks::drawnLabels() const
{
    return int(std::count_if(drawn.begin(), drawn.end(), [](const Drawn &d) { return !d.label.isEmpty(); }));
}
