// SPDX-License-Identifier: GPL-3.0-or-later
// A program that publishes to the broker given as a URL and says "connected" once it is, so that
// a test can kill it and see what the broker tells the rig's subscribers.
#include "publish/publisher.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    PublishSettings settings;
    QString why;
    if (argc < 2 || !parsePublishUrl(QString::fromLocal8Bit(argv[1]), &settings.target, &why)) {
        std::fprintf(stderr, "usage: publish_helper URL (%s)\n", qPrintable(why));
        return 2;
    }
    Publisher publisher(settings);
    QObject::connect(&publisher, &Publisher::statusChanged, [](const Publisher::Status &status) {
        if (status.state == Publisher::State::Connected) {
            std::puts("connected");
            std::fflush(stdout);
        }
    });
    return app.exec();
}
