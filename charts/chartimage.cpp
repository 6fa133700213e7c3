// SPDX-License-Identifier: GPL-3.0-or-later
#include "charts/chartimage.h"

#include "data/csvwriter.h"

#include <QCoreApplication>
#include <QImage>
#include <QImageWriter>
#include <QPageSize>
#include <QPdfWriter>
#include <QSaveFile>
#include <qcustomplot.h>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("ChartImage", text);
}

// Draws the charts one above the other from the painter's origin.
void drawCharts(const QList<QCustomPlot *> &charts, QCPPainter *painter)
{
    int y = 0;
    for (QCustomPlot *chart : charts) {
        painter->save();
        painter->translate(0, y);
        chart->toPainter(painter, chart->width(), chart->height());
        painter->restore();
        y += chart->height();
    }
}

bool writePng(const QList<QCustomPlot *> &charts, QIODevice *device, QString *error)
{
    QImage image(chartsImageSize(charts), QImage::Format_RGB32);
    image.fill(Qt::white);
    QCPPainter painter(&image);
    painter.setMode(QCPPainter::pmNoCaching);
    drawCharts(charts, &painter);
    painter.end();
    QImageWriter writer(device, "png");
    if (writer.write(image))
        return true;
    *error = writer.errorString();
    return false;
}

bool writePdf(const QList<QCustomPlot *> &charts, QIODevice *device, QString *error)
{
    // One point per screen pixel, so the page is as large as the charts on screen.
    const QSize size = chartsImageSize(charts);
    QPdfWriter pdf(device);
    pdf.setResolution(72);
    pdf.setCreator(QStringLiteral("Quellspan"));
    pdf.setPageSize(QPageSize(QSizeF(size), QPageSize::Point, QString(), QPageSize::ExactMatch));
    pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
    QCPPainter painter;
    if (!painter.begin(&pdf)) {
        *error = tr("The PDF could not be started.");
        return false;
    }
    painter.setMode(QCPPainter::pmVectorized);
    painter.setMode(QCPPainter::pmNoCaching);
    drawCharts(charts, &painter);
    painter.end();
    return true;
}

} // namespace

QSize chartsImageSize(const QList<QCustomPlot *> &charts)
{
    QSize size(0, 0);
    for (QCustomPlot *chart : charts) {
        size.setWidth(std::max(size.width(), chart->width()));
        size.setHeight(size.height() + chart->height());
    }
    return size;
}

bool saveChartsImage(const QList<QCustomPlot *> &charts, const QString &fileName, QString *error)
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
    if (!(pdf ? writePdf(charts, &file, &reason) : writePng(charts, &file, &reason))) {
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
