// SPDX-License-Identifier: GPL-3.0-or-later
#include "charts/chartimage.h"

#include "data/csvwriter.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QImage>
#include <QImageWriter>
#include <QPageSize>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTimeZone>
#include <qcustomplot.h>

#include <cmath>

namespace {

// Around and between the rows of text (chart pixels).
constexpr double Spacing = 6;
// A legend entry's line, the gap to its name, and the gap to the next entry.
constexpr double LegendLine = 24;
constexpr double LegendGap = 5;
constexpr double LegendEntryGap = 18;
// A title wider than the charts goes on as many lines as it needs.
constexpr int TitleFlags = Qt::AlignCenter | Qt::TextWordWrap;

QString tr(const char *text)
{
    return QCoreApplication::translate("ChartImage", text);
}

const QImage &measuringImage()
{
    static const QImage image(1, 1, QImage::Format_RGB32);
    return image;
}

QFont titleFont(const QCustomPlot *chart)
{
    QFont font = chart->font();
    font.setBold(true);
    return font;
}

void drawPicture(const QList<QCustomPlot *> &charts, const ChartsPicture &picture,
                 const ChartsPictureLayout &layout, QCPPainter *painter)
{
    if (charts.isEmpty())
        return;
    painter->save();
    painter->setPen(Qt::black);
    painter->setFont(titleFont(charts.first()));
    painter->drawText(layout.title, TitleFlags, picture.title);
    painter->setFont(charts.first()->font());
    painter->setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < picture.legend.size(); ++i) {
        const QRectF entry = layout.legend[i];
        painter->setPen(QPen(QBrush(picture.legend[i].colour), 2));
        painter->drawLine(
            QLineF(entry.left(), entry.center().y(), entry.left() + LegendLine, entry.center().y()));
        painter->setPen(Qt::black);
        painter->drawText(entry.adjusted(LegendLine + LegendGap, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                          picture.legend[i].name);
    }
    painter->restore();

    for (int i = 0; i < charts.size(); ++i) {
        QCustomPlot *chart = charts[i];
        painter->save();
        painter->translate(layout.charts[i].topLeft());
        chart->toPainter(painter, chart->width(), chart->height());
        painter->restore();
        painter->save();
        painter->setPen(Qt::black);
        painter->setFont(chart->xAxis->labelFont());
        painter->drawText(layout.timeLabels[i], Qt::AlignCenter, picture.timeLabel);
        painter->restore();
    }
}

bool writePng(const QList<QCustomPlot *> &charts, const ChartsPicture &picture, QIODevice *device,
              QString *error)
{
    // Text is measured on an image of the kind it is drawn on (its density, not the screen's).
    const ChartsPictureLayout layout = layOutChartsPicture(charts, picture, &measuringImage());
    double ratio = picture.pixelRatio > 0 ? picture.pixelRatio : 1;
    QSize pixels(int(std::ceil(layout.size.width() * ratio)), int(std::ceil(layout.size.height() * ratio)));
    QPointF offset; // of the picture on a canvas of a size asked for (chart pixels)
    if (!picture.canvas.isEmpty() && !layout.size.isEmpty()) {
        // The whole picture scaled to fit, text and lines with it (legible at any size), centred.
        ratio = std::min(double(picture.canvas.width()) / layout.size.width(),
                         double(picture.canvas.height()) / layout.size.height());
        pixels = picture.canvas;
        offset = QPointF((pixels.width() / ratio - layout.size.width()) / 2,
                         (pixels.height() / ratio - layout.size.height()) / 2);
    }
    QImage image(pixels, QImage::Format_RGB32);
    if (image.isNull()) {
        *error = tr("There is not enough memory for a picture of %1 x %2 pixels.")
                     .arg(pixels.width())
                     .arg(pixels.height());
        return false;
    }
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::white);
    QCPPainter painter(&image);
    painter.setMode(QCPPainter::pmNoCaching);
    painter.translate(offset);
    drawPicture(charts, picture, layout, &painter);
    painter.end();
    // Set after drawing, which measures text at the picture's own density: the file says how
    // densely its pixels are meant to be shown (twice the pixels on the same inch at ratio 2).
    const int dotsPerMetre = int(std::lround(96 * ratio / 0.0254));
    image.setDotsPerMeterX(dotsPerMetre);
    image.setDotsPerMeterY(dotsPerMetre);
    QImageWriter writer(device, "png");
    if (writer.write(image))
        return true;
    *error = writer.errorString();
    return false;
}

bool writePdf(const QList<QCustomPlot *> &charts, const ChartsPicture &picture, QIODevice *device,
              QString *error)
{
    // One point per screen pixel, so the page is as large as the charts on screen.
    QPdfWriter pdf(device);
    pdf.setResolution(72);
    pdf.setCreator(QStringLiteral("Quellspan"));
    pdf.setTitle(picture.title);
    const ChartsPictureLayout layout = layOutChartsPicture(charts, picture, &pdf);
    pdf.setPageSize(QPageSize(QSizeF(layout.size), QPageSize::Point, QString(), QPageSize::ExactMatch));
    pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
    QCPPainter painter;
    if (!painter.begin(&pdf)) {
        *error = tr("The PDF could not be started.");
        return false;
    }
    painter.setMode(QCPPainter::pmVectorized);
    painter.setMode(QCPPainter::pmNoCaching);
    drawPicture(charts, picture, layout, &painter);
    painter.end();
    return true;
}

} // namespace

QString chartsTitleText(const ChartsTitle &title)
{
    QString when;
    if (title.start.isValid()) {
        const int offset = title.start.offsetFromUtc();
        when = tr("started %1 UTC%2%3")
                   .arg(title.start.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
                   .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                   .arg(QTime(0, 0).addSecs(std::abs(offset)).toString(QStringLiteral("HH:mm")));
        // Kept together when the title needs two lines.
        when.replace(QLatin1Char(' '), QChar::Nbsp);
    }
    if (title.name.isEmpty())
        return when.isEmpty() ? QString() : when.left(1).toUpper() + when.mid(1);
    return when.isEmpty() ? title.name : tr("%1, %2").arg(title.name, when);
}

ChartsPictureLayout layOutChartsPicture(const QList<QCustomPlot *> &charts, const ChartsPicture &picture,
                                        const QPaintDevice *device)
{
    ChartsPictureLayout layout;
    int width = 0;
    for (QCustomPlot *chart : charts)
        width = std::max(width, chart->width());
    if (charts.isEmpty())
        return layout;
    double y = 0;
    if (!picture.title.isEmpty()) {
        const QFontMetricsF metrics(titleFont(charts.first()), device);
        const QRectF lines = metrics.boundingRect(QRectF(0, 0, width, 1e6), TitleFlags, picture.title);
        layout.title = QRectF(0, Spacing, width, std::ceil(lines.height()));
        y = layout.title.bottom();
    }
    if (!picture.legend.isEmpty()) {
        // As many rows as the entries need, each centred under the title: no entry cut.
        const QFontMetricsF metrics(charts.first()->font(), device);
        const double height = std::ceil(metrics.height());
        QVector<QRectF> row;
        auto endRow = [&] {
            if (row.isEmpty())
                return;
            const double used = row.last().right() - row.first().left();
            const double shift = std::max(0.0, std::floor((width - used) / 2));
            for (QRectF &entry : row)
                layout.legend << entry.translated(shift, 0);
            row.clear();
            y += Spacing + height;
        };
        for (const ChartsPicture::LegendEntry &entry : picture.legend) {
            const double entryWidth =
                LegendLine + LegendGap + std::ceil(metrics.horizontalAdvance(entry.name));
            const double x = row.isEmpty() ? 0 : row.last().right() + LegendEntryGap;
            if (!row.isEmpty() && x + entryWidth > width)
                endRow();
            row << QRectF(row.isEmpty() ? 0 : x, y + Spacing, entryWidth, height);
        }
        endRow();
    }
    if (y > 0)
        y += Spacing;
    for (QCustomPlot *chart : charts) {
        layout.charts << QRectF(0, y, chart->width(), chart->height());
        y += chart->height();
        // Under the plot area, centred on it as the value axis's label is.
        const QFontMetricsF metrics(chart->xAxis->labelFont(), device);
        const QRect area = chart->axisRect()->rect();
        layout.timeLabels << QRectF(area.left(), y, area.width(), std::ceil(metrics.height()));
        y += std::ceil(metrics.height()) + Spacing;
    }
    layout.size = QSize(width, int(std::ceil(y)));
    return layout;
}

QSize chartsImageSize(const QList<QCustomPlot *> &charts, const ChartsPicture &picture)
{
    return layOutChartsPicture(charts, picture, &measuringImage()).size;
}

bool saveChartsImage(const QList<QCustomPlot *> &charts, const ChartsPicture &picture,
                     const QString &fileName, QString *error)
{
    QString reason = notReplaceableReason(fileName);
    if (!reason.isEmpty()) {
        *error = reason;
        return false;
    }
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    const bool pdf = fileName.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive);
    if (!(pdf ? writePdf(charts, picture, &file, &reason) : writePng(charts, picture, &file, &reason))) {
        file.cancelWriting();
        *error = reason;
        return false;
    }
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}
