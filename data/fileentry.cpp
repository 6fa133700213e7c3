// SPDX-License-Identifier: GPL-3.0-or-later
#include "data/fileentry.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <io.h>
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

bool syncToDisk(QFile &file, QString *why)
{
#if defined(Q_OS_UNIX)
#if defined(Q_OS_LINUX)
    const int result = ::fdatasync(file.handle());
#else
    const int result = ::fsync(file.handle());
#endif
    if (result != 0) {
        *why = qt_error_string(errno);
        return false;
    }
    struct stat st;
    if (::fstat(file.handle(), &st) == 0 && st.st_nlink == 0) {
        *why = QCoreApplication::translate("RecordingFile", "the recording file was removed");
        return false;
    }
#elif defined(Q_OS_WIN)
    if (::_commit(file.handle()) != 0) {
        *why = qt_error_string(errno);
        return false;
    }
#else
    Q_UNUSED(file)
    Q_UNUSED(why)
#endif
    return true;
}
