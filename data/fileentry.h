// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class QFile;

// How the recording files are touched on disk.

// What is at a path, as the entry itself is, without following a symbolic link there: the
// recording files are made and appended to only as plain files of their own, never through a
// link someone left at their name.
enum class EntryKind
{
    None,        // nothing at all
    RegularFile, // a plain file
    Other,       // a symbolic link (dangling or not), a folder, a FIFO, a device, a socket
};

EntryKind entryAt(const QString &path);

// Makes what was written to file so far durable. Also notices a file that has been removed from
// its folder: its writes would still succeed, into a file nobody can find. On failure returns
// false with *why set to the reason.
bool syncToDisk(QFile &file, QString *why);
