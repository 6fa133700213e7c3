// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/publishpayload.h"

#include "data/csvnumber.h"
#include "data/runmarks.h"

#include <QVarLengthArray>

#include <cstring>

namespace {

// Whether [begin, end) is a number as JSON writes numbers: -?(0|[1-9]d*)(.d+)?([eE][+-]?d+)?
bool isJsonNumber(const char *p, const char *end)
{
    if (p < end && *p == '-')
        ++p;
    const auto digits = [&] {
        const char *start = p;
        while (p < end && *p >= '0' && *p <= '9')
            ++p;
        return p - start;
    };
    const char *whole = p;
    const auto wholeDigits = digits();
    if (wholeDigits == 0 || (wholeDigits > 1 && *whole == '0'))
        return false;
    if (p < end && *p == '.') {
        ++p;
        if (digits() == 0)
            return false;
    }
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        if (p < end && (*p == '+' || *p == '-'))
            ++p;
        if (digits() == 0)
            return false;
    }
    return p == end;
}

bool isNonFinite(const char *p, const char *end)
{
    const auto is = [&](const char *text) {
        const size_t n = std::strlen(text);
        return size_t(end - p) == n && std::memcmp(p, text, n) == 0;
    };
    return is("inf") || is("-inf") || is("nan") || is("-nan");
}

const char *const FieldNames[] = {
    "\"t\":", "\"q1\":", "\"T1\":", "\"q2\":", "\"T2\":", "\"q3\":", "\"T3\":", "\"q4\":", "\"T4\":"};
constexpr int MaxFields = 9;

void appendJsonUtf8(QByteArray *out, const QByteArray &utf8)
{
    static const char hex[] = "0123456789abcdef";
    out->append('"');
    for (char c : utf8) {
        const uchar u = uchar(c);
        if (c == '"' || c == '\\') {
            out->append('\\');
            out->append(c);
        } else if (u < 0x20 || u == 0x7f) {
            out->append("\\u00");
            out->append(hex[u >> 4]);
            out->append(hex[u & 15]);
        } else {
            out->append(c);
        }
    }
    out->append('"');
}

} // namespace

QByteArray publishTopic(const QString &prefix, PublishTopic topic)
{
    static const char *const leaves[] = {"/status",          "/run",          "/data", "/event",
                                         "/history/request", "/history/reply"};
    return prefix.toUtf8() + leaves[int(topic)];
}

void appendJsonString(QByteArray *out, const QString &text)
{
    appendJsonUtf8(out, text.toUtf8());
}

QByteArray runPayload(const PublishedRun &run)
{
    QByteArray out("{\"start\":");
    appendJsonString(&out, run.start.toUTC().toString(Qt::ISODateWithMs));
    out += ",\"start_local\":";
    appendJsonString(&out, run.start.toOffsetFromUtc(run.start.offsetFromUtc()).toString(Qt::ISODateWithMs));
    out += ",\"sensors\":" + QByteArray::number(run.sensorCount) + ",\"sensitivities\":[";
    for (int s = 0; s < run.sensitivities.size(); ++s) {
        if (s > 0)
            out += ',';
        if (run.sensitivities[s].isNull())
            out += "null";
        else
            appendJsonUtf8(&out, run.sensitivities[s]);
    }
    out += "],\"program\":";
    appendJsonString(&out, run.program);
    out += ",\"recording\":";
    if (run.recording.isEmpty())
        out += "null";
    else
        appendJsonString(&out, run.recording);
    out += ",\"columns\":[";
    const QStringList columns = columnNames(run.sensorCount);
    for (int c = 0; c < columns.size(); ++c) {
        if (c > 0)
            out += ',';
        appendJsonString(&out, columns[c]);
    }
    out += "]}";
    return out;
}

QByteArray runId(const QDateTime &start)
{
    return start.toUTC().toString(Qt::ISODateWithMs).toUtf8();
}

QByteArray placedEventPayload(const QByteArray &event, quint64 index, const QByteArray &run)
{
    QByteArray out("{\"i\":");
    out += QByteArray::number(index);
    out += ",\"run\":";
    appendJsonUtf8(&out, run);
    if (event.size() > 2)
        out += ',';
    out += event.mid(1);
    return out;
}

QByteArray eventPayload(const RunEvent &event)
{
    QByteArray out("{\"t\":");
    appendCsvNumber(&out, event.time);
    out += ",\"kind\":\"" + runEventKindName(event.kind) + '"';
    if (event.markNumber > 0)
        out += ",\"n\":" + QByteArray::number(event.markNumber);
    out += ",\"note\":";
    appendJsonString(&out, event.kind == RunEventKind::MarkDelete ? QString() : plainEventNote(event.note));
    out += '}';
    return out;
}

namespace {

// Splits a recording's line (without its line end) at its commas: 3, 5, 7 or 9 fields, each a
// number as the CSV writes numbers. Returns the field count, 0 when the line is not such a record;
// ends[f] is where field f ends.
int splitRecordLine(const char *line, int length, const char **ends)
{
    const char *end = line + length;
    if (length > 0 && end[-1] == '\r')
        --end;
    int fields = 0;
    for (const char *p = line;; ++p) {
        if (p == end || *p == ',') {
            if (fields == MaxFields)
                return 0;
            ends[fields++] = p;
            if (p == end)
                break;
        }
    }
    if (fields < 3 || fields % 2 == 0)
        return 0;
    const char *from = line;
    for (int f = 0; f < fields; ++f) {
        if (!isJsonNumber(from, ends[f]) && !isNonFinite(from, ends[f]))
            return 0;
        from = ends[f] + 1;
    }
    return fields;
}

// One field's text as a JSON value: a number as it is, a non-finite value in quotes.
void appendFieldText(QByteArray *out, const char *from, const char *to)
{
    const bool quoted = !isJsonNumber(from, to);
    if (quoted)
        out->append('"');
    out->append(from, int(to - from));
    if (quoted)
        out->append('"');
}

// The CSV's text of a record's values, without its line end; returns its end.
const char *formatFields(char *line, const double *fields, int fieldCount, int *length)
{
    const int count = qBound(1, fieldCount, MaxFields);
    const char *end = formatCsvLine(line, fields, count);
    while (end > line && (end[-1] == '\n' || end[-1] == '\r'))
        --end;
    *length = int(end - line);
    return end;
}

} // namespace

bool appendDataPayload(QByteArray *out, quint64 seq, const char *line, int length, const QByteArray &run)
{
    const char *ends[MaxFields];
    const int fields = splitRecordLine(line, length, ends);
    if (fields == 0)
        return false;
    out->append("{\"seq\":");
    out->append(QByteArray::number(seq));
    if (!run.isEmpty()) {
        out->append(",\"run\":");
        appendJsonUtf8(out, run);
    }
    const char *from = line;
    for (int f = 0; f < fields; ++f) {
        out->append(',');
        out->append(FieldNames[f]);
        appendFieldText(out, from, ends[f]);
        from = ends[f] + 1;
    }
    out->append('}');
    return true;
}

bool appendRecordArray(QByteArray *out, const char *line, int length)
{
    const char *ends[MaxFields];
    const int fields = splitRecordLine(line, length, ends);
    if (fields == 0)
        return false;
    out->append('[');
    const char *from = line;
    for (int f = 0; f < fields; ++f) {
        if (f > 0)
            out->append(',');
        appendFieldText(out, from, ends[f]);
        from = ends[f] + 1;
    }
    out->append(']');
    return true;
}

void appendRecordArray(QByteArray *out, const double *fields, int fieldCount)
{
    char line[csvLineRoom(MaxFields)];
    int length = 0;
    formatFields(line, fields, fieldCount, &length);
    appendRecordArray(out, line, length);
}

void appendDataPayload(QByteArray *out, quint64 seq, const double *fields, int fieldCount,
                       const QByteArray &run)
{
    // Without the line end: the same text as the CSV's line, made into JSON the same way.
    char line[csvLineRoom(MaxFields)];
    int length = 0;
    formatFields(line, fields, fieldCount, &length);
    appendDataPayload(out, seq, line, length, run);
}

void followMarkChanges(const RunMarks *marks, QObject *context, std::function<void(const RunEvent &)> publish)
{
    QObject::connect(marks, &RunMarks::added, context,
                     [marks, publish](int entry) { publish(marks->entries()[entry].event); });
    QObject::connect(marks, &RunMarks::noteChanged, context, [marks, publish](int entry) {
        RunEvent edit = marks->entries()[entry].event;
        edit.kind = RunEventKind::MarkEdit;
        publish(edit);
    });
    QObject::connect(marks, &RunMarks::markDeleted, context, [marks, publish](int entry) {
        RunEvent deletion = marks->entries()[entry].event;
        deletion.kind = RunEventKind::MarkDelete;
        deletion.note.clear();
        publish(deletion);
    });
}
