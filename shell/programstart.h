// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// What quellspan and quellspan-demo both do before their QApplication exists (and after reading
// their options, see ProgramOptions): a file-size limit fails a write (which the live recording
// reports) instead of ending the run; the fixed-size forms scale as a whole on high-DPI screens;
// and without a display, a run asking for something that needs none (one of noDisplayOptions,
// such as the demo's --autopilot) draws off screen. Otherwise, without a display to reach, the
// program says so on the error output with what works without one (withoutDisplay.options) and
// ends with exit code 2, rather than letting Qt abort.
struct WithoutDisplay
{
    QString program; // the name the message starts with
    QString options; // what works without a display, in words: "--summary FILE, --help and --version"
};
void prepareProgramStart(int argc, char *argv[], const QStringList &noDisplayOptions,
                         const WithoutDisplay &withoutDisplay);

// After the QApplication: live recordings go to folder (the user's data folder when empty), and
// recordings there that a program left open when it died are made whole first.
void prepareRecordings(const QString &folder);
