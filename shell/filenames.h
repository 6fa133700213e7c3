// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

// File names as the system has them: bytes. Where the locale's encoding is UTF-8 (or plain
// ASCII), a name need not be valid UTF-8 (run_\xff\xfe.csv), and Qt 5 would decode its odd bytes
// as U+FFFD, a name no file has. decodeFileNamesLosslessly() makes the locale's codec, which
// QFile::decodeName and QFile::encodeName use, keep each byte that is not part of valid UTF-8 as
// a code of its own (U+DC80 to U+DCFF) and give it back as that byte: every name read from the
// command line opens the file it names, and the names made from it (its description) too.
// Valid UTF-8 reads as before. Call it first thing in main, before any text is decoded.
void decodeFileNamesLosslessly();

// The command line's arguments (argv[0] included), decoded as file names are (QFile::decodeName).
QStringList decodedArguments(int argc, char *argv[]);
