// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/historypayload.h"

#include "publish/publishpayload.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("HistoryRequest", text);
}

} // namespace

QByteArray historyRequestPayload(const HistoryRequest &request)
{
    QByteArray out("{");
    if (!request.run.isEmpty()) {
        out += "\"run\":";
        appendJsonString(&out, QString::fromUtf8(request.run));
        out += ',';
    }
    out += "\"from\":" + QByteArray::number(request.from) + ",\"id\":";
    appendJsonString(&out, QString::fromUtf8(request.id));
    out += ",\"reply\":";
    appendJsonString(&out, QString::fromUtf8(request.reply));
    out += '}';
    return out;
}

bool isHistoryReplyTopic(const QByteArray &topic, const QString &prefix)
{
    const QByteArray under = publishTopic(prefix, PublishTopic::HistoryReplies) + '/';
    if (!topic.startsWith(under) || topic.size() == under.size() ||
        topic.size() > HistoryRequest::MaxReplyLength)
        return false;
    const QByteArray rest = topic.mid(under.size());
    // No wildcard and no NUL; an empty level ("a//b") is a topic like any other.
    return !rest.contains('+') && !rest.contains('#') && !rest.contains('\0') &&
           QString::fromUtf8(rest).toUtf8() == rest; // well-formed UTF-8, as topics must be
}

RequestRead readHistoryRequest(const QByteArray &payload, const QByteArray &responseTopic,
                               const QByteArray &correlation, const QString &prefix, HistoryRequest *request,
                               QString *why)
{
    *request = HistoryRequest();
    request->correlation = correlation.left(65535);
    QJsonObject object;
    bool readable = false;
    if (payload.size() <= HistoryRequest::MaxPayload) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(payload, &error);
        readable = error.error == QJsonParseError::NoError && document.isObject();
        object = document.object();
    }
    // Where to answer, before anything else: without it nothing can be said.
    const QByteArray named = object.value(QStringLiteral("reply")).toString().toUtf8();
    request->reply = !responseTopic.isEmpty() ? responseTopic : named;
    if (!isHistoryReplyTopic(request->reply, prefix))
        return RequestRead::Ignored;
    const QJsonValue id = object.value(QStringLiteral("id"));
    if (id.isString() && id.toString().toUtf8().size() <= HistoryRequest::MaxIdLength)
        request->id = id.toString().toUtf8();
    if (!readable) {
        *why = payload.size() > HistoryRequest::MaxPayload ? tr("the request is longer than 4096 bytes")
                                                           : tr("the request is not a JSON object");
        return RequestRead::Refused;
    }
    if (!id.isUndefined() &&
        !(id.isString() && id.toString().toUtf8().size() <= HistoryRequest::MaxIdLength)) {
        *why = tr("\"id\" is not a string of at most 128 bytes");
        return RequestRead::Refused;
    }
    const QJsonValue run = object.value(QStringLiteral("run"));
    if (!run.isUndefined() && !run.isNull() && !(run.isString() && run.toString().size() <= 64)) {
        *why = tr("\"run\" is not a run's start");
        return RequestRead::Refused;
    }
    request->run = run.toString().toUtf8();
    const QJsonValue from = object.value(QStringLiteral("from"));
    const double first = from.isUndefined() ? 0.0 : from.toDouble(-1);
    // Whole numbers a double holds exactly.
    if (!(first >= 0 && first <= 9007199254740992.0 && std::floor(first) == first)) {
        *why = tr("\"from\" is not a record's seq");
        return RequestRead::Refused;
    }
    request->from = quint64(first);
    return RequestRead::Answerable;
}

QByteArray historyAnswerHead(const QByteArray &id, const QByteArray &run)
{
    QByteArray out("{\"id\":");
    appendJsonString(&out, QString::fromUtf8(id));
    if (!run.isEmpty()) {
        out += ",\"run\":";
        appendJsonString(&out, QString::fromUtf8(run));
    }
    out += ',';
    return out;
}

QByteArray historyErrorPayload(const QByteArray &id, const QString &why)
{
    QByteArray out = historyAnswerHead(id, QByteArray());
    out += "\"error\":";
    appendJsonString(&out, why);
    out += '}';
    return out;
}
