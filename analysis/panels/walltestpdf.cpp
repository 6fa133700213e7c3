// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/panels/walltestpdf.h"

#include "analysis/panels/walltestchart.h"
#include "analysis/walltesttexts.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextDocument>
#include <QUrl>
#include <qcustomplot.h>

#include <algorithm>
#include <cmath>

namespace {

QString translated(const char *text)
{
    return QCoreApplication::translate("WallTestPdf", text);
}

QString escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

QString typedOrNot(const QString &text)
{
    return text.trimmed().isEmpty() ? QStringLiteral("<i>%1</i>").arg(translated("not given"))
                                    : escaped(text.trimmed());
}

QString number(double value, int digits = 4)
{
    return QString::number(value, 'g', digits);
}

QString optionalNumber(const std::optional<double> &value, int digits = 4)
{
    return value ? number(*value, digits) : translated("none");
}

QString row(const QStringList &cells, bool heading = false)
{
    const QString tag = heading ? QStringLiteral("th") : QStringLiteral("td");
    QString html = QStringLiteral("<tr>");
    for (const QString &cell : cells)
        html += QStringLiteral("<%1>%2</%1>").arg(tag, cell);
    return html + QStringLiteral("</tr>");
}

QString sensorName(int sensor)
{
    return translated("sensor %1").arg(sensor);
}

// Time (hours from the test's start) and values of one channel, at most about 2 columns a point:
// each bucket of records gives its lowest and highest value, in the order they came.
void thinned(const RecordedSeries &series, int channel, double start, QVector<double> *hours,
             QVector<double> *values)
{
    if (!series.time || channel < 1 || channel > int(series.channels.size()) ||
        !series.channels[size_t(channel - 1)])
        return;
    const QVector<double> &time = *series.time;
    const QVector<double> &v = *series.channels[size_t(channel - 1)];
    const int n = std::min(time.size(), v.size());
    const int bucket = std::max(1, n / 1500);
    for (int i = 0; i < n; i += bucket) {
        int low = -1, high = -1;
        for (int k = i; k < std::min(n, i + bucket); ++k) {
            if (!std::isfinite(v[k]) || time[k] < start)
                continue;
            if (low < 0 || v[k] < v[low])
                low = k;
            if (high < 0 || v[k] > v[high])
                high = k;
        }
        if (low < 0)
            continue;
        for (int k : {std::min(low, high), std::max(low, high)}) {
            if (k == high && low == high && k != std::min(low, high))
                continue;
            hours->append((time[k] - start) / 3600);
            values->append(v[k]);
            if (low == high)
                break;
        }
    }
}

constexpr int ChartWidth = 1200, ChartHeight = 470;

// Fonts that read at the size the page shows the chart, on its axes and in its legend.
void setChartFonts(QCustomPlot *plot)
{
    QFont font = plot->font();
    font.setPointSize(12);
    for (QCPAxis *axis : {plot->xAxis, plot->yAxis}) {
        axis->setLabelFont(font);
        axis->setTickLabelFont(font);
    }
    plot->legend->setFont(font);
    for (int i = 0; i < plot->legend->itemCount(); ++i)
        plot->legend->item(i)->setFont(font);
}

QImage chartImage(QCustomPlot *plot)
{
    setChartFonts(plot);
    plot->resize(ChartWidth, ChartHeight);
    plot->replot();
    return plot->toPixmap(ChartWidth, ChartHeight, 1.0).toImage();
}

QImage seriesChart(const WallTestReportData &d, const QString &valueLabel,
                   const QVector<std::pair<int, QString>> &curves)
{
    static const QColor colours[] = {QColor(255, 0, 0), QColor(0, 155, 0), QColor(0, 0, 255),
                                     QColor(255, 0, 255)};
    QCustomPlot plot;
    plot.xAxis->setLabel(translated("Time from the test's start (h)"));
    plot.yAxis->setLabel(valueLabel);
    const double start = d.test && d.test->state().startTime ? *d.test->state().startTime : 0;
    for (const auto &curve : curves) {
        QVector<double> hours, values;
        thinned(d.series, curve.first, start, &hours, &values);
        QCPGraph *graph = plot.addGraph();
        graph->setName(curve.second);
        graph->setPen(QPen(colours[((curve.first + 1) / 2 - 1) % 4], 2));
        graph->setData(hours, values, true);
    }
    plot.rescaleAxes();
    plot.legend->setVisible(true);
    return chartImage(&plot);
}

QImage resistanceChart(const WallTestReportData &d)
{
    WallTestChart chart;
    chart.showHistory(d.test ? d.test->history() : QVector<WallTestPoint>());
    chart.showDynamic(d.dynamic);
    chart.drawNow();
    return chartImage(&chart);
}

QString criteriaTable(const WallTestTexts &texts)
{
    QString html = QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\" width=\"100%\">");
    html += row({translated("Criterion"), translated("Asks"), translated("Verdict"), translated("Judged on"),
                 translated("First passed"), translated("Last passed")},
                true);
    for (const WallTestTexts::Criterion &c : texts.criteria)
        html += row({c.name, escaped(c.meaning), QStringLiteral("<b>%1</b>").arg(escaped(c.verdict)),
                     escaped(c.detail), escaped(c.firstPassed), escaped(c.lastPassed)});
    return html + QStringLiteral("</table>");
}

QString resultsTable(const WallTestReportData &d)
{
    const WallTestState &s = d.test->state();
    const DynamicResult &dyn = d.dynamic;
    QString html = QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\" width=\"100%\">");
    html += row({translated("Method"), translated("R (m\u00b2K/W)"), translated("95 % interval of R"),
                 translated("U (W/(m\u00b2K))"), translated("95 % interval of U")},
                true);
    html += row({translated("Average"), QStringLiteral("<b>%1</b>").arg(optionalNumber(s.r)),
                 translated("not given by the method"), optionalNumber(s.u), QString()});
    const QString interval =
        dyn.r ? QStringLiteral("%1 to %2").arg(optionalNumber(dyn.rLow), optionalNumber(dyn.rHigh))
              : QString();
    const QString uInterval =
        dyn.u ? QStringLiteral("%1 to %2").arg(optionalNumber(dyn.uLow), optionalNumber(dyn.uHigh))
              : QString();
    html += row({translated("Dynamic"), QStringLiteral("<b>%1</b>").arg(optionalNumber(dyn.r)), interval,
                 optionalNumber(dyn.u), uInterval});
    return html + QStringLiteral("</table>");
}

QString dynamicText(const DynamicResult &dyn)
{
    QString text =
        translated("Means over intervals of %1 h: %2 whole interval(s), %3 of them without records "
                   "(gaps, not bridged); %4 equation(s) fitted after the first third, which only "
                   "primes the model's memory; %5 candidate(s) tried.")
            .arg(number(dyn.step / 3600))
            .arg(dyn.intervals)
            .arg(dyn.gaps)
            .arg(dyn.equations)
            .arg(dyn.candidates);
    if (dyn.fit.ok) {
        const DynamicCandidate &c = dyn.fit.candidate;
        text += QLatin1Char(' ') +
                (c.m == 0 ? translated("Neither temperature changed: the steady model q = L (T_si - T_se).")
                          : translated("Least residual sum of squares with m = %1, r = %2, tau_1 = %3 h "
                                       "(residual sum of squares %4 (W/m\u00b2)\u00b2).")
                                .arg(c.m)
                                .arg(c.m > 1 ? number(c.r) : QStringLiteral("-"))
                                .arg(number(c.tau1 / 3600))
                                .arg(number(dyn.fit.residualSumOfSquares)));
    }
    if (!dyn.problem().isEmpty())
        text += QLatin1Char(' ') + dyn.problem();
    text +=
        QLatin1Char(' ') +
        translated("The interval is the 95 % interval of L from the residual variance and Student's t; it "
                   "takes the residuals as independent, which hour to hour they are not, so it is a lower "
                   "bound on the uncertainty. It does not include the sensors' calibration.");
    return escaped(text);
}

QString eventsTable(const WallTestReportData &d)
{
    if (d.events.isEmpty())
        return QStringLiteral("<p>%1</p>").arg(translated("None known."));
    QString html = QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\">");
    html += row({translated("Time of the run"), translated("What"), translated("Note")}, true);
    for (const RunEvent &e : d.events)
        html += row({hoursText(e.time), QString::fromLatin1(runEventKindName(e.kind)), escaped(e.note)});
    return html + QStringLiteral("</table>");
}

} // namespace

QString wallTestReportHtml(const WallTestReportData &d)
{
    const WallTestSetup &setup = d.setup;
    const WallTestState &s = d.test->state();
    const WallTestTexts texts = describeWallTest(s, setup.settings);
    QString h;
    h += QStringLiteral("<html><body style=\"font-size: 9pt;\">");
    h += QStringLiteral("<h2>%1</h2>")
             .arg(translated("In-situ thermal resistance and transmittance: test report"));
    h += QStringLiteral("<p>%1</p>")
             .arg(translated(
                 "Heat flow meter method of ISO 9869-1: the average method and the dynamic method."));

    h += QStringLiteral("<h3>%1</h3><table cellpadding=\"2\">").arg(translated("Element and place"));
    h += row({translated("Element:"), typedOrNot(setup.element)});
    h += row({translated("Place:"), typedOrNot(setup.place)});
    h += QStringLiteral("</table>");

    h += QStringLiteral("<h3>%1</h3><table cellpadding=\"2\">").arg(translated("Sensors"));
    h += row(
        {translated("Heat flux q:"),
         translated("%1, its plate on the warm (inner) surface; positive from the warm side to the cold side")
             .arg(sensorName(setup.heatFluxSensor))});
    h += row({translated("Warm surface T_si:"),
              translated("%1, on the warm surface").arg(sensorName(setup.warmSensor))});
    h += row({translated("Cold surface T_se:"),
              translated("%1, on the cold surface opposite the plate").arg(sensorName(setup.coldSensor))});
    for (int k = 0; k < d.sensitivities.size(); ++k) {
        if (!d.sensitivities[k].isNull())
            h += row({translated("Sensitivity of sensor %1:").arg(k + 1),
                      translated("%1 \u00b5V/(W/m\u00b2), as sent to the unit")
                          .arg(escaped(QString::fromUtf8(d.sensitivities[k])))});
    }
    h += QStringLiteral("</table>");

    h += QStringLiteral("<h3>%1</h3><table cellpadding=\"2\">").arg(translated("Period and recording"));
    h += row({translated("Recording:"), escaped(d.source)});
    if (d.start.isValid() && s.startTime && s.lastTime) {
        h += row({translated("From:"), d.start.addMSecs(qint64(*s.startTime * 1000)).toString(Qt::ISODate)});
        h += row({translated("To:"), d.start.addMSecs(qint64(*s.lastTime * 1000)).toString(Qt::ISODate)});
    }
    h += row({translated("Records:"), escaped(texts.extent)});
    if (s.startTime && s.lastTime) {
        const double hours = (*s.lastTime - *s.startTime) / 3600;
        h += row({translated("Duration:"),
                  translated("%1 h (%2 days), from %3 to %4 of the run")
                      .arg(QString::number(hours, 'f', 2), QString::number(hours / 24, 'f', 2),
                           hoursText(*s.startTime), hoursText(*s.lastTime))});
        if (s.records > 1)
            h += row({translated("Mean spacing of records:"),
                      translated("%1 s").arg(number((*s.lastTime - *s.startTime) / double(s.records - 1)))});
    }
    h += QStringLiteral("</table>");

    h += QStringLiteral("<h3>%1</h3>").arg(translated("Results"));
    h += resultsTable(d);
    h += QStringLiteral("<p>%1</p>")
             .arg(escaped(translated("U = 1 / (R_si + R + R_se) with R_si = %1 and R_se = %2 m\u00b2K/W.")
                              .arg(number(setup.settings.rsi), number(setup.settings.rse))));
    if (!texts.flowProblem.isEmpty())
        h += QStringLiteral("<p><b>%1</b></p>").arg(escaped(texts.flowProblem));

    h += QStringLiteral("<h3>%1</h3>").arg(translated("Methods"));
    h += QStringLiteral("<p><b>%1</b> %2</p>")
             .arg(translated("Average method:"),
                  escaped(
                      setup.settings.heavy
                          ? translated("R = sum(T_si - T_se) / sum(q) over the records up to the last whole "
                                       "day (a heavy element, above 20 kJ/(m\u00b2K)).")
                          : translated("R = sum(T_si - T_se) / sum(q) over all records.")));
    h += QStringLiteral("<p><b>%1</b> %2</p>").arg(translated("Dynamic method:"), dynamicText(d.dynamic));

    h += QStringLiteral("<h3>%1</h3>").arg(translated("Criteria for ending the test (average method)"));
    h += criteriaTable(texts);
    h += QStringLiteral("<p><b>%1</b></p>").arg(escaped(texts.mayStop));
    if (setup.settings.capacity)
        h += QStringLiteral("<p>%1</p>")
                 .arg(escaped(translated("Areal heat capacity entered: %1 kJ/(m\u00b2K).")
                                  .arg(number(*setup.settings.capacity))));

    h += QStringLiteral("<h3>%1</h3>").arg(translated("Corrections applied"));
    const FluxCorrection &c = setup.corrections[size_t(setup.heatFluxSensor - 1)];
    h += QStringLiteral("<p>%1</p>")
             .arg(escaped(
                 c.isIdentity()
                     ? translated("None: the heat flux as the unit converted it with the sensitivity it "
                                  "was sent.")
                     : translated("The heat flux of %1 corrected for the plate's temperature T (its own "
                                  "sensor's): q / (1 + TD/100 (T - T_cal)) with %2. The charts show the "
                                  "flux as recorded.")
                           .arg(sensorName(setup.heatFluxSensor), c.text())));

    h += QStringLiteral("<h3>%1</h3>").arg(translated("R over the test"));
    h += QStringLiteral("<p><img src=\"chart:resistance\" width=\"560\"></p>");
    h += QStringLiteral("<h3>%1</h3>").arg(translated("Heat flux over the test (as recorded)"));
    h += QStringLiteral("<p><img src=\"chart:flux\" width=\"560\"></p>");
    h += QStringLiteral("<h3>%1</h3>").arg(translated("Surface temperatures over the test"));
    h += QStringLiteral("<p><img src=\"chart:temperature\" width=\"560\"></p>");

    h += QStringLiteral("<h3>%1</h3>").arg(translated("Marks and events"));
    h += eventsTable(d);

    h += QStringLiteral("<hr><p>%1</p>")
             .arg(escaped(translated("Made by %1 on %2.").arg(d.program, d.made.toString(Qt::ISODate))));
    h += QStringLiteral("</body></html>");
    return h;
}

bool writeWallTestPdf(const QString &fileName, const WallTestReportData &d, QString *error)
{
    if (!d.test) {
        *error = translated("there is no wall test to report");
        return false;
    }
    QTextDocument document;
    document.addResource(QTextDocument::ImageResource, QUrl(QStringLiteral("chart:resistance")),
                         resistanceChart(d));
    const int flux = WallTestChannels::heatFluxOf(d.setup.heatFluxSensor);
    document.addResource(QTextDocument::ImageResource, QUrl(QStringLiteral("chart:flux")),
                         seriesChart(d, translated("q (W/m\u00b2)"),
                                     {{flux, translated("q, %1").arg(sensorName(d.setup.heatFluxSensor))}}));
    document.addResource(QTextDocument::ImageResource, QUrl(QStringLiteral("chart:temperature")),
                         seriesChart(d, translated("T (\u00b0C)"),
                                     {{WallTestChannels::temperatureOf(d.setup.warmSensor),
                                       translated("T_si, %1").arg(sensorName(d.setup.warmSensor))},
                                      {WallTestChannels::temperatureOf(d.setup.coldSensor),
                                       translated("T_se, %1").arg(sensorName(d.setup.coldSensor))}}));
    document.setHtml(wallTestReportHtml(d));

    QBuffer pdf;
    pdf.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&pdf);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(18, 16, 18, 16), QPageLayout::Millimeter);
        writer.setTitle(translated("Wall test report"));
        writer.setCreator(d.program);
        document.print(&writer);
    }
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(pdf.data()) != pdf.data().size() || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}
