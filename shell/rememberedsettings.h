// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "analysis/walltestsetup.h"
#include "charts/runtimetext.h"
#include "publish/publishtarget.h"

#include <QSettings>
#include <QString>

#include <array>

class QLineEdit;
class QSpinBox;

// What the program remembers between runs: the control panel's sensor count and four
// sensitivity texts, and the folder of the last successful save. They live in the user's
// settings file, $XDG_CONFIG_HOME/<program>/<program>.ini (~/.config/quellspan/quellspan.ini).
// A missing, unreadable or damaged file, or a value that makes no sense, reads as the starting
// state: count 1, empty texts, no folder. A file that is not a plain file of a sane size (a FIFO,
// a folder, a link to one, or one over MaxFileSize, which would hold up the start or fill the
// memory) is not read at all: it is set aside under a new name, never deleted, and the program
// starts from the starting state.
class RememberedSettings
{
public:
    static constexpr int Sensors = 4;
    // Longer texts are not remembered (a sensitivity is a short number).
    static constexpr int MaxTextLength = 256;
    // A settings file of this program is a few hundred bytes; anything much larger is not one.
    static constexpr qint64 MaxFileSize = 1 << 20;

    RememberedSettings();

    QString fileName() const { return settings.fileName(); }

    int sensorCount() const;
    void setSensorCount(int count);
    // sensor 1..4
    QString sensitivity(int sensor) const;
    void setSensitivity(int sensor, const QString &text);
    // An absolute path to an existing folder, or empty.
    QString saveFolder() const;
    // Remembers the folder that holds savedFile.
    void rememberSaveFolderOf(const QString &savedFile);
    // Where the save dialog starts: fileName in the remembered folder, or fileName as given.
    QString saveProposal(const QString &fileName) const;

    // The wall test's sensors and settings; what makes no sense reads as the default.
    WallTestSetup wallTestSetup() const;
    void setWallTestSetup(const WallTestSetup &setup);

    // How the charts show the run's times; an unknown value reads as seconds.
    TimeStyle timeStyle() const;
    void setTimeStyle(TimeStyle style);
    // Every window's time style starts as remembered, and a change is remembered.
    static void followTimeStyle();

    // Whether and where runs are published (never a password: the URL holds none).
    PublishChoice publishChoice() const;
    void setPublishChoice(const PublishChoice &choice);

    // The URL of the rig watched last (Watch a Rig...).
    QString watchedRig() const;
    void setWatchedRig(const QString &url);

    // Forgets everything: the next start is like the first.
    void forgetAll();

    // What was said about the last settings file set aside (where it went and why), once:
    // empty when none was, or when it was already taken.
    static QString takeSetAsideReport();

    // Shows the remembered entries in the control panel's widgets (nothing is sent to the unit)
    // and goes on remembering what the operator enters there.
    static void restoreAndFollow(QSpinBox *count, const std::array<QLineEdit *, Sensors> &sensitivities);

private:
    QSettings settings;
};
