// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "analysis/dynamicmethod.h"
#include "analysis/walltest.h"
#include "analysis/walltestsetup.h"
#include "data/rundescription.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QVector>

// Everything a wall test's report states, gathered by whoever made the test (the panel, or the
// command for scripts) and read by the report's writer. Nothing in it is owned: the test and the
// series must outlive the report's writing.
struct WallTestReportData
{
    QString source;  // the recording's file, or what the run is ("live run")
    QDateTime start; // the wall-clock time of the run's time 0; invalid when not known
    WallTestSetup setup;
    const WallTest *test = nullptr; // the average method, its history and its intervals
    DynamicResult dynamic;
    RecordedSeries series; // the run: its heat flux and temperatures are drawn over the test
    int sensorCount = 0;
    QVector<RunEvent> events;        // marks and events of the run
    QList<QByteArray> sensitivities; // as sent to the unit, sensor 1 first (null: not sent)
    QString program;                 // name and version
    QDateTime made;                  // when the report was made
};
