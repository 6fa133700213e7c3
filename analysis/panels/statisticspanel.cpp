// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/panels/statisticspanel.h"

#include "charts/chartfeeder.h"
#include "charts/chartselection.h"
#include "charts/chartsetup.h"
#include "charts/chartview.h"
#include "data/csvnumber.h"
#include "data/descriptionfile.h"
#include "data/runmarks.h"

#include <QAbstractListModel>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cmath>

namespace {

QByteArray number(double value)
{
    return formatCsvNumber(value);
}

// A time of the run for people: elapsed seconds to the millisecond.
QString secondsText(double seconds)
{
    return StatisticsPanel::tr("%1 s").arg(shownNumber(seconds, 3));
}

QDateTime atElapsed(const QDateTime &start, double seconds)
{
    return start.addMSecs(qint64(std::llround(seconds * 1000.0)));
}

QString channelName(int channel)
{
    const int sensor = (channel + 1) / 2;
    return channel % 2 ? StatisticsPanel::tr("CH%1: q%2 (W/m2)").arg(channel).arg(sensor)
                       : StatisticsPanel::tr("CH%1: T%2 (C)").arg(channel).arg(sensor);
}

} // namespace

QByteArray statisticsCopyText(const StretchStatistics &statistics, double from, double to,
                              const QDateTime &start)
{
    QByteArray range = '\t' + number(from) + '\t' + number(to);
    if (start.isValid())
        range +=
            '\t' + isoTime(atElapsed(start, from)).toUtf8() + '\t' + isoTime(atElapsed(start, to)).toUtf8();
    const QList<QByteArray> lines = statisticsText(statistics).split('\n');
    QByteArray text = lines[0] + "\tfrom_s\tto_s" + (start.isValid() ? "\tfrom\tto" : "") + '\n';
    for (int i = 1; i < lines.size(); ++i) {
        if (!lines[i].isEmpty())
            text += lines[i] + range + '\n';
    }
    return text;
}

namespace {

// The marks to choose from, as both boxes list them: each text made when it is shown, so that a
// run of a million marks holds no million items.
class MarkChoices : public QAbstractListModel
{
public:
    MarkChoices(const QVector<StatisticsMark> *marks, QObject *parent)
        : QAbstractListModel(parent), marks(marks)
    {
    }
    int rowCount(const QModelIndex &parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : int(marks->size());
    }
    QVariant data(const QModelIndex &index, int role) const override
    {
        if ((role != Qt::DisplayRole && role != Qt::EditRole) || index.row() >= marks->size())
            return QVariant();
        const StatisticsMark &m = (*marks)[index.row()];
        return StatisticsPanel::tr("%1 (%2)").arg(m.label, secondsText(m.time));
    }
    void changed()
    {
        beginResetModel();
        endResetModel();
    }
    // The last mark was appended already.
    void appended()
    {
        beginInsertRows(QModelIndex(), int(marks->size()) - 1, int(marks->size()) - 1);
        endInsertRows();
    }

private:
    const QVector<StatisticsMark> *marks;
};

} // namespace

QVector<StatisticsMark> statisticsMarks(const RunMarks &marks)
{
    QVector<StatisticsMark> list;
    for (const RunMarks::Entry &e : marks.entries()) {
        if (!e.deleted)
            list.append({e.event.time, runEventLabel(e.event)});
    }
    std::stable_sort(list.begin(), list.end(),
                     [](const StatisticsMark &a, const StatisticsMark &b) { return a.time < b.time; });
    return list;
}

StatisticsPanel::StatisticsPanel(const RecordedSeries &series, std::function<int()> sensorCount,
                                 QWidget *parent)
    : QWidget(parent, Qt::Window), series(series), sensorCount(std::move(sensorCount))
{
    setObjectName(QStringLiteral("statisticsPanel"));
    setWindowTitle(tr("Statistics"));
    buildForm();
}

void StatisticsPanel::buildForm()
{
    auto *layout = new QVBoxLayout(this);
    auto *rangeRow = new QHBoxLayout;
    rangeRow->addWidget(new QLabel(tr("Stretch:"), this));
    rangeBox = new QComboBox(this);
    rangeBox->setObjectName(QStringLiteral("rangeBox"));
    rangeBox->addItems(
        {tr("Time range in view"), tr("Selection (Shift-drag on a chart)"), tr("Between two marks")});
    rangeRow->addWidget(rangeBox, 1);
    layout->addLayout(rangeRow);

    markRow = new QWidget(this);
    auto *marksLayout = new QHBoxLayout(markRow);
    marksLayout->setContentsMargins(0, 0, 0, 0);
    fromMarkBox = new QComboBox(markRow);
    fromMarkBox->setObjectName(QStringLiteral("fromMarkBox"));
    toMarkBox = new QComboBox(markRow);
    toMarkBox->setObjectName(QStringLiteral("toMarkBox"));
    markChoices = new MarkChoices(&marks, this);
    for (QComboBox *box : {fromMarkBox, toMarkBox}) {
        box->setModel(markChoices);
        // Sized without measuring every choice, listed without laying out each.
        box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        box->setMinimumContentsLength(24);
        if (auto *list = qobject_cast<QListView *>(box->view()))
            list->setUniformItemSizes(true);
    }
    marksLayout->addWidget(new QLabel(tr("From"), markRow));
    marksLayout->addWidget(fromMarkBox, 1);
    marksLayout->addWidget(new QLabel(tr("to"), markRow));
    marksLayout->addWidget(toMarkBox, 1);
    markRow->setVisible(false);
    layout->addWidget(markRow);

    rangeLabel = new QLabel(this);
    rangeLabel->setObjectName(QStringLiteral("rangeLabel"));
    rangeLabel->setWordWrap(true);
    rangeLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(rangeLabel);

    table = new QTableWidget(0, 6, this);
    table->setObjectName(QStringLiteral("statisticsTable"));
    table->setHorizontalHeaderLabels(
        {tr("Channel"), tr("Samples"), tr("Mean"), tr("Minimum"), tr("Maximum"), tr("Std. dev.")});
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Measuring every cell's text at each change of the view would cost more than the statistics.
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Interactive);
    layout->addWidget(table, 1);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto *copyButton = new QPushButton(tr("Copy"), this);
    copyButton->setObjectName(QStringLiteral("copyButton"));
    copyButton->setToolTip(tr("Puts the table on the clipboard as tab-separated text, with the stretch."));
    buttons->addWidget(copyButton);
    auto *closeButton = new QPushButton(tr("Close"), this);
    buttons->addWidget(closeButton);
    layout->addLayout(buttons);
    resize(640, 340);

    connect(rangeBox, qOverload<int>(&QComboBox::activated), this, &StatisticsPanel::rangeChosen);
    connect(fromMarkBox, qOverload<int>(&QComboBox::activated), this,
            [this](int index) { chooseMarks(index, toMark); });
    connect(toMarkBox, qOverload<int>(&QComboBox::activated), this,
            [this](int index) { chooseMarks(fromMark, index); });
    connect(copyButton, &QPushButton::clicked, this, &StatisticsPanel::copy);
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);
    showMarkChoices();
}

int StatisticsPanel::channelCount() const
{
    return 2 * std::clamp(sensorCount(), 0, MaxSensors);
}

void StatisticsPanel::adoptSummaries(RunStatistics &&summaries)
{
    statistics = std::move(summaries);
    summarisedChannels = channelCount();
    refresh();
}

void StatisticsPanel::setViewRange(double lower, double upper)
{
    viewFrom = lower;
    viewTo = upper;
    if (chosen == Range::View)
        refresh();
}

void StatisticsPanel::setSelection(bool active, double lower, double upper)
{
    selectionActive = active;
    selectionFrom = lower;
    selectionTo = upper;
    showChoices();
    if (active)
        chooseRange(Range::Selection);
    else if (chosen == Range::Selection)
        chooseRange(Range::View);
}

void StatisticsPanel::setMarks(const QVector<StatisticsMark> &newMarks)
{
    marks = newMarks;
    fromMark = std::clamp(fromMark, 0, std::max(0, int(marks.size()) - 1));
    toMark = std::clamp(toMark, 0, std::max(0, int(marks.size()) - 1));
    showMarkChoices();
    if (chosen == Range::Marks && marks.size() < 2)
        chooseRange(Range::View);
    else if (chosen == Range::Marks)
        refresh();
}

void StatisticsPanel::followMarks(const RunMarks *runMarks)
{
    const auto update = [this, runMarks] { setMarks(statisticsMarks(*runMarks)); };
    // A mark placed after the others, as in a live run, is appended: a run of a million events
    // is not listed again for each new one.
    connect(runMarks, &RunMarks::added, this, [this, runMarks, update](int entry) {
        const RunEvent &e = runMarks->entries()[entry].event;
        if (!marks.isEmpty() && e.time < marks.constLast().time)
            return update();
        marks.append({e.time, runEventLabel(e)});
        static_cast<MarkChoices *>(markChoices)->appended();
        showChoices();
    });
    connect(runMarks, &RunMarks::noteChanged, this, update);
    connect(runMarks, &RunMarks::markDeleted, this, update);
    connect(runMarks, &RunMarks::cleared, this, update);
    update();
}

void StatisticsPanel::chooseRange(Range range)
{
    if ((range == Range::Selection && !selectionActive) || (range == Range::Marks && marks.size() < 2))
        range = Range::View;
    chosen = range;
    rangeBox->setCurrentIndex(int(range));
    markRow->setVisible(range == Range::Marks);
    refresh();
}

void StatisticsPanel::chooseMarks(int first, int second)
{
    fromMark = std::clamp(first, 0, std::max(0, int(marks.size()) - 1));
    toMark = std::clamp(second, 0, std::max(0, int(marks.size()) - 1));
    fromMarkBox->setCurrentIndex(fromMark);
    toMarkBox->setCurrentIndex(toMark);
    chooseRange(Range::Marks);
}

void StatisticsPanel::rangeChosen(int index)
{
    chooseRange(Range(index));
}

void StatisticsPanel::showChoices()
{
    // Choices that need what is not there are shown but cannot be taken.
    if (auto *model = qobject_cast<QStandardItemModel *>(rangeBox->model())) {
        model->item(int(Range::Selection))->setEnabled(selectionActive);
        model->item(int(Range::Marks))->setEnabled(marks.size() >= 2);
    }
}

void StatisticsPanel::showMarkChoices()
{
    showChoices();
    static_cast<MarkChoices *>(markChoices)->changed();
    fromMarkBox->setCurrentIndex(fromMark);
    toMarkBox->setCurrentIndex(toMark);
}

void StatisticsPanel::runChanged()
{
    if (!isVisible() || isCatchingUp())
        return;
    refreshes.request();
}

void StatisticsPanel::sensorsChanged()
{
    refresh();
}

void StatisticsPanel::runCleared()
{
    statistics.reset();
    refresh();
}

void StatisticsPanel::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    refresh();
}

void StatisticsPanel::catchUp()
{
    if (summarisedChannels != channelCount()) {
        // The first time, or the sensor count changed: summarised afresh.
        statistics.setSeries(series, channelCount());
        summarisedChannels = channelCount();
    }
    if (!slices.runSlice([this] { return statistics.update(StepBlocks); })) {
        rangeLabel->setText(tr("Summarising the run..."));
        return;
    }
    refresh();
}

void StatisticsPanel::refresh()
{
    refreshes.cancel();
    if (!isVisible())
        return;
    if (summarisedChannels != channelCount() || !statistics.update(0)) {
        if (!isCatchingUp())
            catchUp();
        return;
    }
    refreshes.done();
    switch (chosen) {
    case Range::View:
        from = viewFrom;
        to = viewTo;
        break;
    case Range::Selection:
        from = selectionFrom;
        to = selectionTo;
        break;
    case Range::Marks:
        from = std::min(marks[fromMark].time, marks[toMark].time);
        to = std::max(marks[fromMark].time, marks[toMark].time);
        break;
    }
    const StretchStatistics all = statistics.compute(from, to);
    shown = all;
    shown.channels.clear();
    for (const ChannelStatistics &c : all.channels) {
        if (sensorShown((c.channel + 1) / 2))
            shown.channels.append(c);
    }
    shownStart = runStart();
    showRange();
    showTable();
}

void StatisticsPanel::showRange()
{
    QString text = tr("From %1 to %2").arg(secondsText(from), secondsText(to));
    if (shownStart.isValid()) {
        const QString format = QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz");
        text += tr(" (%1 to %2)")
                    .arg(atElapsed(shownStart, from).toString(format),
                         atElapsed(shownStart, to).toString(format));
    }
    text += shown.rows() == 1 ? tr(": 1 row of samples.") : tr(": %1 rows of samples.").arg(shown.rows());
    if (shown.channels.isEmpty())
        text += tr(" No sensor is shown on the charts.");
    rangeLabel->setText(text);
}

void StatisticsPanel::showTable()
{
    const bool newRows = table->rowCount() != shown.channels.size();
    table->setRowCount(shown.channels.size());
    for (int row = 0; row < shown.channels.size(); ++row) {
        const ChannelStatistics &c = shown.channels[row];
        // Only what changed is set: every change repaints the cell.
        const auto cell = [&](int column, const QString &text, double value) {
            QTableWidgetItem *item = table->item(row, column);
            if (!item) {
                item = new QTableWidgetItem;
                if (column > 0)
                    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
                table->setItem(row, column, item);
            }
            const QBrush colour(sensorColour((c.channel + 1) / 2));
            if (item->foreground() != colour)
                item->setForeground(colour);
            if (item->text() != text)
                item->setText(text);
            const QString full = std::isfinite(value) ? QString::fromLatin1(number(value)) : QString();
            if (item->toolTip() != full)
                item->setToolTip(full);
        };
        const auto figure = [](double v) {
            return std::isfinite(v) ? QString::number(v, 'g', 7) : QString();
        };
        cell(0, channelName(c.channel), qQNaN());
        cell(1, QString::number(c.samples), qQNaN());
        cell(2, figure(c.mean), c.mean);
        cell(3, figure(c.min), c.min);
        cell(4, figure(c.max), c.max);
        cell(5, c.samples > 1 && c.sdTooLarge() ? tooLargeToCompute() : figure(c.sd), c.sd);
    }
    if (newRows)
        table->resizeColumnToContents(0);
}

QByteArray StatisticsPanel::copyText() const
{
    return statisticsCopyText(shown, from, to, shownStart);
}

void StatisticsPanel::copy()
{
    QApplication::clipboard()->setText(QString::fromUtf8(copyText()));
}

StatisticsPanel *offerStatisticsPanel(QWidget *window, ChartViewController *view, ChartFeeder *feeder,
                                      const RecordedSeries &series, std::function<int()> sensorCount)
{
    auto *panel = new StatisticsPanel(series, std::move(sensorCount), window);
    panel->setSensorShown([feeder](int sensor) { return feeder->isSensorShown(sensor); });
    auto *selection = new ChartSelection(feeder, window);
    QObject::connect(selection, &ChartSelection::changed, panel, [panel, selection] {
        panel->setSelection(selection->isActive(), selection->range().lower, selection->range().upper);
    });
    QCPAxis *time = feeder->chart(0)->xAxis;
    panel->setViewRange(time->range().lower, time->range().upper);
    QObject::connect(time, qOverload<const QCPRange &>(&QCPAxis::rangeChanged), panel,
                     [panel](const QCPRange &r) { panel->setViewRange(r.lower, r.upper); });
    QObject::connect(feeder, &ChartFeeder::redrawDue, panel, &StatisticsPanel::runChanged);
    QObject::connect(feeder, &ChartFeeder::cleared, panel, &StatisticsPanel::runCleared);
    QObject::connect(feeder, &ChartFeeder::shownSensorsChanged, panel, &StatisticsPanel::sensorsChanged);

    auto *action = new QAction(StatisticsPanel::tr("Statistics..."), window);
    action->setObjectName(QStringLiteral("actionStatistics"));
    view->addMenuAction(action);
    QObject::connect(action, &QAction::triggered, panel, [panel] {
        panel->show();
        panel->raise();
        panel->activateWindow();
    });
    return panel;
}
