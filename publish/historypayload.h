// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// Asking a rig for the part of a run one missed, and the rig's answer (JSON, like the rest of the
// rig's topics: publishpayload.h).
//
// A viewer publishes to <prefix>/history/request
//     {"run":"2026-12-07T13:05:09.250Z","from":0,"id":"v1-3","reply":"<prefix>/history/reply/v1"}
// asking for the records of a run from seq "from" on ("run" left out: the run the rig is in),
// with an MQTT 5 response topic and correlation data, or with "reply" for an MQTT 3.1.1 broker
// (the response topic wins when both are there). The rig answers only under
// <prefix>/history/reply/, never elsewhere, on the answer topic, QoS 1, each message carrying
// "id" (and, over MQTT 5, the correlation data) back:
//     {"id":..,"run":R,"first":S,"records":[[t,q1,T1,...],...]}  records S, S+1, ... in order
//     {"id":..,"run":R,"first":S,"missing":M}                    records S to S+M-1 are gone
//     {"id":..,"run":R,"events":[{"i":0,...},...]}               the run's marks and events
//     {"id":..,"run":R,"done":true,"next":N,"event_count":E,"ended":false}
//                                 the answer covered records up to N and events up to E; the
//                                 rest comes live ("ended": a Reset ended the run, there is no rest)
//     {"id":..,"run":R,"unknown":true,"current":C}               the rig holds no such run now
//     {"id":..,"error":"..."}                                    the request could not be read

struct HistoryRequest
{
    static constexpr int MaxPayload = 4096;
    static constexpr int MaxIdLength = 128;
    static constexpr int MaxReplyLength = 1024;

    QByteArray run;         // empty: the run the rig is in
    quint64 from = 0;       // the first seq wanted
    QByteArray id;          // given back in every answer
    QByteArray reply;       // the topic the answers go to
    QByteArray correlation; // MQTT 5 correlation data, given back with every answer
};

// The request's JSON (the correlation data goes as an MQTT 5 property, not here).
QByteArray historyRequestPayload(const HistoryRequest &request);

// Whether topic is one a rig at prefix answers on: <prefix>/history/reply/ and at least one
// level more, with no wildcard, no NUL, at most MaxReplyLength bytes.
bool isHistoryReplyTopic(const QByteArray &topic, const QString &prefix);

enum class RequestRead
{
    Answerable, // *request is set
    Refused,    // *request has its reply topic and id: the answer is an error saying *why
    Ignored,    // no reply topic the rig may publish to: nothing is answered
};

// Reads a request that came to the rig at prefix, with the MQTT 5 response topic and correlation
// data it carried (empty when none).
RequestRead readHistoryRequest(const QByteArray &payload, const QByteArray &responseTopic,
                               const QByteArray &correlation, const QString &prefix, HistoryRequest *request,
                               QString *why);

// The start of every answer, {"id":"..","run":"..", (the run left out when empty), to which the
// answer's own members and the closing brace are appended.
QByteArray historyAnswerHead(const QByteArray &id, const QByteArray &run);
// {"id":"..","error":".."}
QByteArray historyErrorPayload(const QByteArray &id, const QString &why);
