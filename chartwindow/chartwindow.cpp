// SPDX-License-Identifier: GPL-3.0-or-later
#include "chartwindow/chartwindow.h"

#include "charts/chartalignment.h"
#include "charts/chartfeeder.h"
#include "charts/chartmarksview.h"
#include "charts/chartselection.h"
#include "charts/chartsetup.h"
#include "charts/chartview.h"
#include "charts/windowexposure.h"
#include "placement/windowplacement.h"

#include <QAction>
#include <QPointer>
#include <QScreen>
#include <QVBoxLayout>
#include <qcustomplot.h>

namespace {

const QString ActionName = QStringLiteral("actionChartsInWindow");

} // namespace

ChartWindow::ChartWindow(const Source &source, QWidget *owner) : QWidget(owner, Qt::Window)
{
    setObjectName(QStringLiteral("chartWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    // The owner's font, which the charts inherit: the same labels as there.
    setFont(owner->font());
    const QString title = owner->windowTitle();
    setWindowTitle(title.isEmpty() ? tr("Charts") : tr("Charts: %1").arg(title));

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(2);
    QCustomPlot *charts[2];
    for (int i = 0; i < 2; ++i) {
        charts[i] = new QCustomPlot(this);
        charts[i]->setObjectName(i == 0 ? QStringLiteral("plot") : QStringLiteral("plot2"));
        charts[i]->setMinimumSize(320, 160);
        layout->addWidget(charts[i], 1);
    }
    setUpRunCharts(charts[0], charts[1]);
    new ChartAlignment(charts[0], charts[1]);
    feeder = new ChartFeeder(charts[0], charts[1], source.feeder, this);
    controller = new ChartViewController(feeder, this);
    controller->takeWindowSettingsOf(source.view);
    // The window's own actions reach their shortcuts (Ctrl+M) here too.
    for (QAction *action : controller->windowActions()) {
        if (action->objectName() != ActionName)
            addAction(action);
    }
    if (source.marks) {
        marks = new ChartMarksView(feeder, source.marks, this);
        marks->setEditable(source.marksEditable);
        marks->setTimeFormat([view = controller] { return view->timeFormat(); });
    }
    chosen = new ChartSelection(feeder, this);
    if (source.selection)
        ChartSelection::mirror(source.selection, chosen);
    connect(new WindowExposure(this), &WindowExposure::seenChanged, feeder, &ChartFeeder::setSeen);

    // Most of the screen the run's window is on.
    const QRect screen = owner->screen()->availableGeometry();
    resize(screen.width() * 9 / 10, screen.height() * 9 / 10);
}

QCustomPlot *ChartWindow::chart(int index) const
{
    return feeder->chart(index);
}

QAction *offerChartWindow(QWidget *window, const ChartWindow::Source &source)
{
    auto *action = new QAction(ChartWindow::tr("Charts in a Window"), window);
    action->setObjectName(ActionName);
    source.view->addMenuAction(action);
    QObject::connect(action, &QAction::triggered, window, [window, source] {
        auto *open = window->findChild<ChartWindow *>(QString(), Qt::FindDirectChildrenOnly);
        if (!open)
            open = new ChartWindow(source, window);
        showBeside(open, window);
    });
    return action;
}
