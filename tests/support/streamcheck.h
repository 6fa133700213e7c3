// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "simunit/unitstream.h"

#include <QByteArray>
#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTest>

#include <algorithm>

Q_DECLARE_METATYPE(LineEnd)

// Test data: columns "sensors" (1 to 4) and "lineEnd" (LF, CR LF), one row for each pair.
inline void addSensorCountsAndLineEnds()
{
    QTest::addColumn<int>("sensors");
    QTest::addColumn<LineEnd>("lineEnd");
    for (int n = 1; n <= 4; ++n) {
        QTest::addRow("N=%d LF", n) << n << LineEnd::Lf;
        QTest::addRow("N=%d CRLF", n) << n << LineEnd::CrLf;
    }
}

// Reads the unit's stream the way a careful host does (a line is a record when it has exactly 2N
// fields, each a number or blank) and tallies what it finds, independently of the unit's own
// counting.
class StreamReader
{
public:
    explicit StreamReader(int sensors) : sensors(sensors) {}

    // Takes bytes as they arrive; returns the tally of the lines that these bytes complete.
    StreamCounters feed(const QByteArray &bytes)
    {
        StreamCounters tally;
        for (char c : bytes) {
            if (c != '\n') {
                pending += c;
                continue;
            }
            if (pending.endsWith('\r')) {
                pending.chop(1);
                ++crlf;
            } else {
                ++lf;
            }
            take(pending, &tally);
            pending.clear();
        }
        total += tally;
        return tally;
    }

    // One record per good line; an empty field reads as 0, like the program reads it.
    const QList<QList<double>> &records() const { return values; }
    const StreamCounters &counters() const { return total; }
    int lineEndsCrLf() const { return crlf; }
    int lineEndsLf() const { return lf; }
    // Bytes after the last line end.
    QByteArray unfinished() const { return pending; }
    // Good lines whose fields were not numbers of the unit's form.
    const QStringList &problems() const { return trouble; }

    // A field a host takes as a number: optional sign, digits with at most one point, optional
    // exponent, blanks around; or nothing but blanks.
    static bool isNumberOrBlank(const QByteArray &field)
    {
        static const QRegularExpression number(
            QStringLiteral("^[ \\t]*([-+]?(\\d+\\.?\\d*|\\.\\d+)([eE][-+]?\\d+)?)?[ \\t]*$"));
        return number.match(QString::fromLatin1(field)).hasMatch();
    }

    // The plain form of a record with no fault: numbers with two decimals, one comma between.
    static bool isPlainRecord(const QByteArray &line, int sensors)
    {
        static const QString number = QStringLiteral("-?\\d+\\.\\d\\d");
        const QRegularExpression form(QStringLiteral("^%1(,%1){%2}$").arg(number).arg(2 * sensors - 1));
        return form.match(QString::fromLatin1(line)).hasMatch();
    }

private:
    void take(const QByteArray &line, StreamCounters *tally)
    {
        const QList<QByteArray> fields = line.split(',');
        if (fields.size() != 2 * sensors || !std::all_of(fields.begin(), fields.end(), isNumberOrBlank)) {
            ++tally->badLines;
            if (line.size() >= UnitStream::LongRunMin)
                ++tally->longRuns;
            return;
        }
        ++tally->goodRecords;
        static const QRegularExpression form(QStringLiteral("^[ \\t]*-?\\d+(\\.\\d\\d)?[ \\t]*$"));
        QList<double> record;
        bool empty = false;
        for (const QByteArray &f : fields) {
            if (f.trimmed().isEmpty()) {
                empty = true;
                record << 0.0;
                continue;
            }
            if (!form.match(QString::fromLatin1(f)).hasMatch())
                trouble << QStringLiteral("odd field \"%1\" in line \"%2\"")
                               .arg(QString::fromLatin1(f), QString::fromLatin1(line));
            record << f.trimmed().toDouble();
        }
        if (empty)
            ++tally->emptyFieldRecords;
        values << record;
    }

    int sensors;
    QByteArray pending;
    StreamCounters total;
    QList<QList<double>> values;
    QStringList trouble;
    int crlf = 0;
    int lf = 0;
};
