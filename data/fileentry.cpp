// SPDX-License-Identifier: GPL-3.0-or-later
#include "data/fileentry.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <sys/stat.h>
#endif

EntryKind entryAt(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? EntryKind::None : EntryKind::Other;
    return S_ISREG(st.st_mode) ? EntryKind::RegularFile : EntryKind::Other;
#else
    const QFileInfo info(path);
    if (info.isSymLink())
        return EntryKind::Other;
    if (!info.exists())
        return EntryKind::None;
    return info.isFile() ? EntryKind::RegularFile : EntryKind::Other;
#endif
}
