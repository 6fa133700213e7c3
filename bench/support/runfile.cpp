// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/support/runfile.h"

#include "data/csvwriter.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

namespace {
constexpr int BlockRows = 1 << 20;
} // namespace

bool writeRunFile(const QString &path, int rows)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    std::mt19937_64 random(42);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::vector<double> columns[1 + 2 * RunFileSensors];
    for (int first = 0; first < rows; first += BlockRows) {
        const int n = std::min(BlockRows, rows - first);
        for (auto &c : columns)
            c.resize(size_t(n));
        for (int i = 0; i < n; ++i) {
            const int row = first + i;
            columns[0][size_t(i)] = double(row * 10) / 1000.0;
            for (int s = 0; s < RunFileSensors; ++s) {
                const double flux = 150.0 * (s + 1) + 20.0 * std::sin(row * 1e-4) + 3.0 * noise(random);
                columns[1 + 2 * s][size_t(i)] = std::round(flux * 1000.0) / 1000.0;
                columns[2 + 2 * s][size_t(i)] = std::round((23.0 + 0.2 * noise(random)) * 100.0) / 100.0;
            }
        }
        CsvColumns c;
        c.fieldCount = 1 + 2 * RunFileSensors;
        c.rows = n;
        for (int k = 0; k < c.fieldCount; ++k)
            c.columns[size_t(k)] = columns[k].data();
        if (!writeCsv(&file, c))
            return false;
    }
    return file.flush();
}

double catSeconds(const QString &path)
{
    QElapsedTimer timer;
    timer.start();
    QProcess cat;
    cat.setStandardOutputFile(QStringLiteral("/dev/null"));
    cat.start(QStringLiteral("cat"), {path});
    cat.waitForFinished(-1);
    return double(timer.nsecsElapsed()) / 1e9;
}

RunFile prepareRunFile(const QString &folder, int rows)
{
    RunFile file;
    const QString path = QStringLiteral("%1/run-%2.csv").arg(folder).arg(rows);
    if (!writeRunFile(path, rows)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
        return file;
    }
    file.path = path;
    file.bytes = double(QFileInfo(path).size());
    file.catSeconds = catSeconds(path);
    return file;
}
