// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

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
