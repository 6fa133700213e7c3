// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QIODevice>

#include <algorithm>

// Takes what a device is given in small bites, and fails once it holds `capacity` bytes.
class LimitedDevice : public QIODevice
{
public:
    explicit LimitedDevice(qint64 capacity) : capacity(capacity) { open(QIODevice::WriteOnly); }
    QByteArray data;

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *bytes, qint64 size) override
    {
        const qint64 room = capacity - data.size();
        if (room <= 0)
            return -1;
        const qint64 bite = std::min<qint64>({size, room, 4096});
        data.append(bytes, int(bite));
        return bite;
    }

private:
    qint64 capacity;
};
