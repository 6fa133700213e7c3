// SPDX-License-Identifier: GPL-3.0-or-later
#include "data/recordingsfolder.h"

#include <QDir>
#include <QStandardPaths>

namespace {

QString &folderSetting()
{
    static QString folder;
    return folder;
}

} // namespace

QString recordingsFolder()
{
    if (!folderSetting().isEmpty())
        return folderSetting();
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/recordings");
}

void setRecordingsFolder(const QString &folder)
{
    folderSetting() = folder.isEmpty() ? QString() : QDir(folder).absolutePath();
}

const QString &recordingNameFormat()
{
    static const QString format = QStringLiteral("yyyy-MM-dd_HH-mm-ss");
    return format;
}
