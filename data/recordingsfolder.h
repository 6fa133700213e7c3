// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Where live recordings go and how they are named.

// The folder live recordings go to: the one set (the --recordings option), else "recordings" in
// the user's data folder.
QString recordingsFolder();
void setRecordingsFolder(const QString &folder);

// How a recording is named: its start as 2026-12-07_14-05-09 (QDateTime format).
const QString &recordingNameFormat();
