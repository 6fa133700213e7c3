// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/publishpayload.h"

#include "data/csvnumber.h"

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
    static const char *const leaves[] = {"/status", "/run", "/data", "/event"};
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

bool appendDataPayload(QByteArray *out, quint64 seq, const char *line, int length)
{
    const char *end = line + length;
    if (length > 0 && end[-1] == '\r')
        --end;
    // Split first: nothing is appended for a line that is not a record.
    const char *starts[MaxFields + 1];
    int fields = 0;
    for (const char *p = line;; ++p) {
        if (p == end || *p == ',') {
            if (fields == MaxFields)
                return false;
            starts[fields++] = p; // the end of field fields - 1
            if (p == end)
                break;
        }
    }
    if (fields < 3 || fields % 2 == 0)
        return false;
    const char *from = line;
    for (int f = 0; f < fields; ++f) {
        if (!isJsonNumber(from, starts[f]) && !isNonFinite(from, starts[f]))
            return false;
        from = starts[f] + 1;
    }
    out->append("{\"seq\":");
    out->append(QByteArray::number(seq));
    from = line;
    for (int f = 0; f < fields; ++f) {
        out->append(',');
        out->append(FieldNames[f]);
        const bool quoted = !isJsonNumber(from, starts[f]);
        if (quoted)
            out->append('"');
        out->append(from, int(starts[f] - from));
        if (quoted)
            out->append('"');
        from = starts[f] + 1;
    }
    out->append('}');
    return true;
}

void appendDataPayload(QByteArray *out, quint64 seq, const double *fields, int fieldCount)
{
    char line[csvLineRoom(MaxFields)];
    const int count = qBound(1, fieldCount, MaxFields);
    const char *end = formatCsvLine(line, fields, count);
    // Without the line end: the same text as the CSV's line, made into JSON the same way.
    while (end > line && (end[-1] == '\n' || end[-1] == '\r'))
        --end;
    appendDataPayload(out, seq, line, int(end - line));
}
