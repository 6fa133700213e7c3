// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "analysis/walltestreportdata.h"

#include <QString>

// The wall test's report as a PDF, A4, for a client or a file: what ISO 9869-1 asks a test report
// to state as far as the program knows it (the element and place as typed, the sensors'
// placement, the period and the recording, the methods, R and U with the dynamic method's
// interval, each criterion with its figures and verdict, the corrections applied), the R(t)
// chart and the heat flux and temperatures over the test, the marks and events, and the program
// and its version. Needs a QApplication (the charts are widgets; "offscreen" will do). Writes
// through a temporary file: an existing file is replaced only by a complete report. Returns
// false with *error set when the file can't be written.
bool writeWallTestPdf(const QString &fileName, const WallTestReportData &data, QString *error);

// The report as HTML (the PDF's text; its images are named chart:resistance, chart:flux and
// chart:temperature).
QString wallTestReportHtml(const WallTestReportData &data);
