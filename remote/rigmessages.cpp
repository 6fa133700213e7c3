// SPDX-License-Identifier: GPL-3.0-or-later
#include "remote/rigmessages.h"

#include "data/csvnumber.h"
#include "data/runmarks.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <charconv>
#include <cmath>
#include <cstring>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("RigMessages", text);
}

// A strict JSON reader (RFC 8259) over a payload's bytes, made for the rig's flat messages: it
// lays the document out as a list of values, each with where its text lies and where the next
// value after it starts, so that members are found without copying, and numbers keep their text.
class Json
{
public:
    enum Type
    {
        Object,
        Array,
        String,
        Number,
        True,
        False,
        Null,
    };
    struct Value
    {
        Type type;
        int begin, end; // the text (a string's without its quotes)
        int after;      // the value after this one and everything in it
        bool escaped;   // a string with backslashes
    };
    static constexpr int MaxDepth = 6;

    explicit Json(const QByteArray &text) : text(text), p(text.constData()), end(p + text.size())
    {
        values.reserve(size_t(std::min(text.size() / 2 + 1, 1 << 16)));
        ws();
        ok = value(0);
        ws();
        ok = ok && p == end;
    }

    bool isValid() const { return ok; }
    const Value &at(int i) const { return values[size_t(i)]; }
    Type type(int i) const { return values[size_t(i)].type; }

    // The value of member key of object i, or -1.
    int member(int object, const char *key) const
    {
        const size_t length = std::strlen(key);
        for (int k = object + 1; k < at(object).after; k = at(k + 1).after) {
            const Value &name = at(k);
            if (!name.escaped && size_t(name.end - name.begin) == length &&
                std::memcmp(text.constData() + name.begin, key, length) == 0)
                return k + 1;
        }
        return -1;
    }
    // Whether an object has a key twice (a message with two answers to one question), or more
    // members than a rig's message has.
    bool hasDuplicateKeys(int object) const
    {
        int members = 0;
        for (int k = object + 1; k < at(object).after; k = at(k + 1).after) {
            if (++members > 32)
                return true;
        }
        for (int k = object + 1; k < at(object).after; k = at(k + 1).after) {
            for (int j = at(k + 1).after; j < at(object).after; j = at(j + 1).after) {
                if (stringBytes(k) == stringBytes(j))
                    return true;
            }
        }
        return false;
    }
    // The items of array i.
    std::vector<int> items(int array) const
    {
        std::vector<int> list;
        for (int k = array + 1; k < at(array).after; k = at(k).after)
            list.push_back(k);
        return list;
    }
    const char *begin(int i) const { return text.constData() + at(i).begin; }
    const char *finish(int i) const { return text.constData() + at(i).end; }
    // A string's bytes, its escapes undone (as UTF-8).
    QByteArray stringBytes(int i) const
    {
        const Value &v = at(i);
        if (!v.escaped)
            return text.mid(v.begin, v.end - v.begin);
        QByteArray out;
        out.reserve(v.end - v.begin);
        for (const char *q = begin(i); q < finish(i); ++q) {
            if (*q != '\\') {
                out += *q;
                continue;
            }
            ++q;
            switch (*q) {
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                uint code = hex4(q + 1);
                q += 4;
                if (code >= 0xd800 && code < 0xdc00) { // checked by the reader: a low surrogate follows
                    code = 0x10000 + ((code - 0xd800) << 10) + (hex4(q + 3) - 0xdc00);
                    q += 6;
                }
                const char32_t c = char32_t(code);
                out += QString::fromUcs4(&c, 1).toUtf8();
                break;
            }
            default: // " \ /
                out += *q;
                break;
            }
        }
        return out;
    }

private:
    static int hexDigit(char c)
    {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    }
    static uint hex4(const char *q)
    {
        uint code = 0;
        for (int k = 0; k < 4; ++k)
            code = code * 16 + uint(hexDigit(q[k]));
        return code;
    }
    bool hasHex4(const char *q) const
    {
        if (end - q < 4)
            return false;
        for (int k = 0; k < 4; ++k) {
            if (hexDigit(q[k]) < 0)
                return false;
        }
        return true;
    }
    void ws()
    {
        while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r'))
            ++p;
    }
    int add(Type type, const char *from)
    {
        values.push_back({type, int(from - text.constData()), 0, 0, false});
        return int(values.size()) - 1;
    }
    void close(int i, const char *to)
    {
        values[size_t(i)].end = int(to - text.constData());
        values[size_t(i)].after = int(values.size());
    }
    bool literal(const char *word, Type type)
    {
        const size_t n = std::strlen(word);
        if (size_t(end - p) < n || std::memcmp(p, word, n) != 0)
            return false;
        close(add(type, p), p + n);
        p += n;
        return true;
    }
    bool string()
    {
        ++p; // the quote
        const int i = add(String, p);
        bool escaped = false;
        while (p < end && *p != '"') {
            const uchar c = uchar(*p);
            if (c < 0x20)
                return false;
            if (c == '\\') {
                escaped = true;
                if (++p == end)
                    return false;
                if (*p == 'u') {
                    if (!hasHex4(p + 1))
                        return false;
                    const uint code = hex4(p + 1);
                    p += 5;
                    if (code >= 0xdc00 && code < 0xe000)
                        return false; // a low surrogate alone
                    if (code >= 0xd800 && code < 0xdc00) {
                        if (end - p < 6 || p[0] != '\\' || p[1] != 'u' || !hasHex4(p + 2))
                            return false;
                        const uint low = hex4(p + 2);
                        if (low < 0xdc00 || low >= 0xe000)
                            return false;
                        p += 6;
                    }
                    continue;
                }
                if (!std::strchr("\"\\/bfnrt", *p) || *p == '\0')
                    return false;
            }
            ++p;
        }
        if (p == end)
            return false;
        values[size_t(i)].escaped = escaped;
        close(i, p);
        ++p;
        return true;
    }
    bool number()
    {
        const char *from = p;
        if (p < end && *p == '-')
            ++p;
        const char *digits = p;
        while (p < end && *p >= '0' && *p <= '9')
            ++p;
        if (p == digits || (p - digits > 1 && *digits == '0'))
            return false;
        if (p < end && *p == '.') {
            const char *fraction = ++p;
            while (p < end && *p >= '0' && *p <= '9')
                ++p;
            if (p == fraction)
                return false;
        }
        if (p < end && (*p == 'e' || *p == 'E')) {
            ++p;
            if (p < end && (*p == '+' || *p == '-'))
                ++p;
            const char *exponent = p;
            while (p < end && *p >= '0' && *p <= '9')
                ++p;
            if (p == exponent)
                return false;
        }
        close(add(Number, from), p);
        return true;
    }
    bool value(int depth)
    {
        if (p == end || depth > MaxDepth)
            return false;
        switch (*p) {
        case '{': {
            const int i = add(Object, p);
            ++p;
            ws();
            if (p < end && *p == '}') {
                close(i, ++p);
                return true;
            }
            for (;;) {
                ws();
                if (p == end || *p != '"' || !string())
                    return false;
                ws();
                if (p == end || *p != ':')
                    return false;
                ++p;
                ws();
                if (!value(depth + 1))
                    return false;
                ws();
                if (p < end && *p == ',') {
                    ++p;
                    continue;
                }
                if (p < end && *p == '}') {
                    close(i, ++p);
                    return true;
                }
                return false;
            }
        }
        case '[': {
            const int i = add(Array, p);
            ++p;
            ws();
            if (p < end && *p == ']') {
                close(i, ++p);
                return true;
            }
            for (;;) {
                ws();
                if (!value(depth + 1))
                    return false;
                ws();
                if (p < end && *p == ',') {
                    ++p;
                    continue;
                }
                if (p < end && *p == ']') {
                    close(i, ++p);
                    return true;
                }
                return false;
            }
        }
        case '"':
            return string();
        case 't':
            return literal("true", True);
        case 'f':
            return literal("false", False);
        case 'n':
            return literal("null", Null);
        default:
            return number();
        }
    }

    const QByteArray &text;
    const char *p;
    const char *end;
    std::vector<Value> values;
    bool ok = false;
};

bool fail(QString *why, const QString &text)
{
    *why = text;
    return false;
}

bool tooLong(const QByteArray &payload, int maxBytes, QString *why)
{
    if (payload.size() <= maxBytes)
        return false;
    *why = tr("the message is longer than %1 bytes").arg(maxBytes);
    return true;
}

// The document, which must be an object without repeated keys.
bool readObject(const Json &json, QString *why)
{
    if (!json.isValid())
        return fail(why, tr("the message is not JSON"));
    if (json.type(0) != Json::Object)
        return fail(why, tr("the message is not a JSON object"));
    if (json.hasDuplicateKeys(0))
        return fail(why, tr("the message names a member twice"));
    return true;
}

// A whole number from 0 to 2^53, written as JSON writes one (no fraction, no exponent).
bool readCount(const Json &json, int i, quint64 *value)
{
    if (i < 0 || json.type(i) != Json::Number)
        return false;
    const char *p = json.begin(i);
    const char *end = json.finish(i);
    if (end - p > 16)
        return false;
    quint64 v = 0;
    for (; p < end; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        v = v * 10 + quint64(*p - '0');
    }
    if (v > (quint64(1) << 53))
        return false;
    *value = v;
    return true;
}

bool readText(const Json &json, int i, QByteArray *value, int maxBytes)
{
    if (i < 0 || json.type(i) != Json::String || json.at(i).end - json.at(i).begin > 6 * maxBytes)
        return false;
    *value = json.stringBytes(i);
    return value->size() <= maxBytes;
}

// A value as the CSV writes it: a number as it is, or "nan", "inf" ... in quotes.
bool readValue(const Json &json, int i, double *value, QByteArray *line)
{
    if (i < 0 || (json.type(i) != Json::Number && (json.type(i) != Json::String || json.at(i).escaped)))
        return false;
    if (!readCsvNumberText(json.begin(i), json.finish(i), value))
        return false;
    // In quotes only what JSON can't write as a number.
    if (json.type(i) == Json::String && std::isfinite(*value))
        return false;
    line->append(json.begin(i), json.at(i).end - json.at(i).begin);
    return true;
}

// A record's values, the time first; false for a time that is not finite.
bool readRow(const Json &json, const std::vector<int> &fields, RigRecords *records)
{
    for (size_t f = 0; f < fields.size(); ++f) {
        if (f > 0)
            records->lines += ',';
        double v;
        if (!readValue(json, fields[f], &v, &records->lines))
            return false;
        if (f == 0 && !std::isfinite(v))
            return false;
        records->values.append(v);
    }
    records->lines += '\n';
    ++records->rows;
    return true;
}

bool isRunId(const QByteArray &id)
{
    return !id.isEmpty() && id.size() <= 64 &&
           QDateTime::fromString(QString::fromLatin1(id), Qt::ISODateWithMs).isValid();
}

bool readRunMember(const Json &json, int object, QByteArray *run, QString *why)
{
    if (!readText(json, json.member(object, "run"), run, 64) || !isRunId(*run))
        return fail(why, tr("\"run\" is not a run's start"));
    return true;
}

bool readEventObject(const Json &json, int object, RigEvent *e, QString *why)
{
    if (json.type(object) != Json::Object || json.hasDuplicateKeys(object))
        return fail(why, tr("an event is not a JSON object"));
    QByteArray kind, note;
    double time = 0;
    QByteArray ignored;
    if (!readCount(json, json.member(object, "i"), &e->index))
        return fail(why, tr("an event has no place (\"i\")"));
    if (!readRunMember(json, object, &e->run, why))
        return false;
    const int t = json.member(object, "t");
    if (t < 0 || json.type(t) != Json::Number || !readValue(json, t, &time, &ignored) || !std::isfinite(time))
        return fail(why, tr("an event's time is not a number"));
    if (!readText(json, json.member(object, "kind"), &kind, 32) ||
        !runEventKindFromName(kind, &e->event.kind))
        return fail(why, tr("an event's kind is not one the program notes"));
    if (!readText(json, json.member(object, "note"), &note, 4 * RunMarks::MaxNoteLength))
        return fail(why, tr("an event's note is missing or too long"));
    const bool aboutMark = e->event.kind == RunEventKind::Mark || e->event.kind == RunEventKind::MarkEdit ||
                           e->event.kind == RunEventKind::MarkDelete;
    quint64 number = 0;
    const int n = json.member(object, "n");
    if (aboutMark && (!readCount(json, n, &number) || number < 1 || number > 1000000))
        return fail(why, tr("a mark's number is missing"));
    if (!aboutMark && n >= 0)
        return fail(why, tr("an event that is not a mark has a mark's number"));
    e->event.time = time;
    e->event.markNumber = int(number);
    e->event.note = plainNote(QString::fromUtf8(note));
    return true;
}

const char *const DataNames[] = {"t", "q1", "T1", "q2", "T2", "q3", "T3", "q4", "T4"};

} // namespace

void RigRecords::clear()
{
    run.clear();
    first = 0;
    fieldCount = 0;
    rows = 0;
    values.clear();
    lines.clear();
}

bool readCsvNumberText(const char *begin, const char *end, double *value)
{
    if (end - begin < 1 || end - begin > MaxCsvNumberLength)
        return false;
    double v = 0;
    const char *p = begin;
    // from_chars reads no "+" and neither do CSV numbers; it reads "nan" and "inf", which the CSV
    // writes, and forms the CSV never writes ("1E5", "0.50"): the text written again tells.
    const std::from_chars_result r = std::from_chars(p, end, v);
    if (r.ec != std::errc() || r.ptr != end)
        return false;
    const QByteArray written = formatCsvNumber(v);
    if (written.size() != end - begin || std::memcmp(written.constData(), begin, size_t(end - begin)) != 0)
        return false;
    *value = v;
    return true;
}

bool readRigStatus(const QByteArray &payload, bool *online, QString *why)
{
    if (payload == "online" || payload == "offline") {
        *online = payload == "online";
        return true;
    }
    return fail(why, tr("the status is neither \"online\" nor \"offline\""));
}

bool readRigRun(const QByteArray &payload, RigRun *run, QString *why)
{
    *run = RigRun();
    if (tooLong(payload, MaxRigMessageBytes, why))
        return false;
    const Json json(payload);
    if (!readObject(json, why))
        return false;
    if (!readText(json, json.member(0, "start"), &run->id, 64) || !isRunId(run->id))
        return fail(why, tr("the run has no start"));
    run->start = QDateTime::fromString(QString::fromLatin1(run->id), Qt::ISODateWithMs);
    QByteArray local;
    if (readText(json, json.member(0, "start_local"), &local, 64)) {
        const QDateTime withOffset = QDateTime::fromString(QString::fromLatin1(local), Qt::ISODateWithMs);
        if (withOffset.isValid() && withOffset == run->start)
            run->start = withOffset;
    }
    quint64 sensors = 0;
    if (!readCount(json, json.member(0, "sensors"), &sensors) || sensors < 1 || sensors > MaxSensors)
        return fail(why, tr("the run's sensor count is not 1 to 4"));
    run->sensorCount = int(sensors);
    const int list = json.member(0, "sensitivities");
    if (list >= 0) {
        if (json.type(list) != Json::Array)
            return fail(why, tr("the sensitivities are not a list"));
        const std::vector<int> items = json.items(list);
        if (items.size() > size_t(MaxSensors))
            return fail(why, tr("the run has more sensitivities than sensors"));
        for (int item : items) {
            QByteArray sent;
            if (json.type(item) == Json::Null)
                run->sensitivities.append(QByteArray());
            else if (readText(json, item, &sent, 1000))
                run->sensitivities.append(sent.isNull() ? QByteArray("") : sent);
            else
                return fail(why, tr("a sensitivity is not text"));
        }
    }
    QByteArray program;
    if (readText(json, json.member(0, "program"), &program, 200))
        run->program = QString::fromUtf8(program);
    QByteArray recording;
    if (readText(json, json.member(0, "recording"), &recording, 200)) {
        // Only a name as the live recording makes them: never a path, a link or a hidden file.
        static const QRegularExpression plain(
            QStringLiteral("^\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d(_\\d{1,3})?\\.csv$"));
        if (plain.match(QString::fromUtf8(recording)).hasMatch())
            run->recording = QString::fromUtf8(recording);
    }
    return true;
}

bool readRigRecord(const QByteArray &payload, RigRecords *record, QString *why)
{
    record->clear();
    if (tooLong(payload, MaxRigMessageBytes, why))
        return false;
    const Json json(payload);
    if (!readObject(json, why))
        return false;
    if (!readCount(json, json.member(0, "seq"), &record->first))
        return fail(why, tr("the record has no seq"));
    if (!readRunMember(json, 0, &record->run, why))
        return false;
    std::vector<int> fields;
    for (const char *name : DataNames) {
        const int i = json.member(0, name);
        if (i < 0)
            break;
        fields.push_back(i);
    }
    if (fields.size() < 3 || fields.size() % 2 == 0)
        return fail(why, tr("the record has no time or not both values of each sensor"));
    for (size_t f = fields.size(); f < std::size(DataNames); ++f) {
        if (json.member(0, DataNames[f]) >= 0)
            return fail(why, tr("the record's sensors are not numbered 1, 2, ..."));
    }
    record->fieldCount = int(fields.size());
    if (!readRow(json, fields, record)) {
        record->clear();
        return fail(why, tr("a value of the record is not a number as the CSV writes numbers"));
    }
    return true;
}

bool readRigEvent(const QByteArray &payload, RigEvent *event, QString *why)
{
    *event = RigEvent();
    if (tooLong(payload, MaxRigMessageBytes, why))
        return false;
    const Json json(payload);
    if (!readObject(json, why))
        return false;
    return readEventObject(json, 0, event, why);
}

bool readHistoryAnswer(const QByteArray &payload, HistoryAnswer *answer, QString *why)
{
    *answer = HistoryAnswer();
    if (tooLong(payload, MaxHistoryAnswerBytes, why))
        return false;
    const Json json(payload);
    if (!readObject(json, why))
        return false;
    if (!readText(json, json.member(0, "id"), &answer->id, 128))
        return fail(why, tr("the answer has no id"));
    const int error = json.member(0, "error");
    if (error >= 0) {
        QByteArray text;
        if (!readText(json, error, &text, 1000))
            return fail(why, tr("the answer's error is not text"));
        answer->kind = HistoryAnswer::Error;
        answer->error = QString::fromUtf8(text);
        return true;
    }
    if (!readRunMember(json, 0, &answer->run, why))
        return false;
    const int records = json.member(0, "records");
    const int missing = json.member(0, "missing");
    const int events = json.member(0, "events");
    const int done = json.member(0, "done");
    const int unknown = json.member(0, "unknown");
    if ((records >= 0) + (missing >= 0) + (events >= 0) + (done >= 0) + (unknown >= 0) != 1)
        return fail(why, tr("the answer is not one of the kinds a rig sends"));
    if (records >= 0 || missing >= 0) {
        if (!readCount(json, json.member(0, "first"), &answer->first))
            return fail(why, tr("the answer's records have no first seq"));
    }
    if (records >= 0) {
        answer->kind = HistoryAnswer::Records;
        RigRecords &r = answer->records;
        r.run = answer->run;
        r.first = answer->first;
        if (json.type(records) != Json::Array)
            return fail(why, tr("the answer's records are not a list"));
        const std::vector<int> rows = json.items(records);
        if (rows.empty())
            return fail(why, tr("the answer holds no record"));
        r.values.reserve(int(rows.size()) * 9);
        r.lines.reserve(int(rows.size()) * 64);
        for (int row : rows) {
            if (json.type(row) != Json::Array) {
                r.clear();
                return fail(why, tr("a record of the answer is not a list"));
            }
            const std::vector<int> fields = json.items(row);
            const int count = int(fields.size());
            if (count < 3 || count > 9 || count % 2 == 0 || (r.fieldCount != 0 && count != r.fieldCount)) {
                r.clear();
                return fail(why, tr("a record of the answer has a wrong number of values"));
            }
            r.fieldCount = count;
            if (!readRow(json, fields, &r)) {
                r.clear();
                return fail(why, tr("a value of the answer is not a number as the CSV writes numbers"));
            }
        }
        return true;
    }
    if (missing >= 0) {
        answer->kind = HistoryAnswer::Missing;
        if (!readCount(json, missing, &answer->missing) || answer->missing == 0)
            return fail(why, tr("the answer's missing count is not a count"));
        return true;
    }
    if (events >= 0) {
        answer->kind = HistoryAnswer::Events;
        if (json.type(events) != Json::Array)
            return fail(why, tr("the answer's events are not a list"));
        for (int item : json.items(events)) {
            RigEvent e;
            if (!readEventObject(json, item, &e, why))
                return false;
            if (e.run != answer->run)
                return fail(why, tr("an event of the answer is of another run"));
            answer->events.push_back(std::move(e));
        }
        return true;
    }
    if (done >= 0) {
        answer->kind = HistoryAnswer::Done;
        const int ended = json.member(0, "ended");
        if (json.type(done) != Json::True || !readCount(json, json.member(0, "next"), &answer->next) ||
            !readCount(json, json.member(0, "event_count"), &answer->eventCount) || ended < 0 ||
            (json.type(ended) != Json::True && json.type(ended) != Json::False))
            return fail(why, tr("the answer's end is not complete"));
        answer->ended = json.type(ended) == Json::True;
        return true;
    }
    answer->kind = HistoryAnswer::Unknown;
    const int current = json.member(0, "current");
    if (json.type(unknown) != Json::True || current < 0 ||
        !(json.type(current) == Json::Null ||
          (readText(json, current, &answer->current, 64) && isRunId(answer->current))))
        return fail(why, tr("the answer about an unknown run is not complete"));
    return true;
}
