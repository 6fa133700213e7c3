// SPDX-License-Identifier: GPL-3.0-or-later
// File names as bytes: every byte string decodes and encodes back to itself once the program's
// decoding is in place, valid UTF-8 reads as before, and a recording whose name is not UTF-8 is
// read back with its description.

#include "data/recordingreader.h"
#include "data/rundescription.h"
#include "shell/filenames.h"

#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include <fcntl.h>
#include <random>
#include <unistd.h>

class TestFileNames : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // In a UTF-8 locale, as the tests' environment has it.
        QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
        decodeFileNamesLosslessly();
    }
    void everyByteStringComesBack();
    void validUtf8ReadsAsBefore();
    void aRecordingNamedInOtherBytesIsRead();
};

void TestFileNames::everyByteStringComesBack()
{
    std::mt19937 random(29);
    std::uniform_int_distribution<int> byte(1, 255), length(0, 40);
    QList<QByteArray> names{"run_\xff\xfe.csv", "\xc3",     "\xe2\x82",
                            "\xed\xa0\x80",     "\xc0\xaf", "\xf4\x90\x80\x80"};
    for (int b = 1; b < 256; ++b)
        names << QByteArray(1, char(b));
    for (int i = 0; i < 2000; ++i) {
        QByteArray name;
        for (int n = length(random); n > 0; --n)
            name += char(i % 2 ? byte(random) : 0x80 + byte(random) % 0x80);
        names << name;
    }
    for (const QByteArray &name : names) {
        const QString decoded = QFile::decodeName(name);
        QCOMPARE(QFile::encodeName(decoded), name);
        // In pieces, as a stream decodes (ended by a whole character, so that nothing waits for
        // more): the same text.
        const QByteArray ended = name + '/';
        QTextDecoder decoder(QTextCodec::codecForLocale());
        QString pieces;
        for (int at = 0; at < ended.size(); at += 3)
            pieces += decoder.toUnicode(ended.mid(at, 3));
        QCOMPARE(pieces, decoded + QLatin1Char('/'));
    }
}

void TestFileNames::validUtf8ReadsAsBefore()
{
    const QString text = QStringLiteral("Messung \u00e4\u00f6\u00fc \u20ac \u6e29\u5ea6 \U0001F321.csv");
    QCOMPARE(QFile::decodeName(text.toUtf8()), text);
    QCOMPARE(QFile::encodeName(text), text.toUtf8());
    QCOMPARE(QString::fromLocal8Bit("plain.csv"), QStringLiteral("plain.csv"));
}

void TestFileNames::aRecordingNamedInOtherBytesIsRead()
{
    QTemporaryDir dir;
    const QByteArray base = QFile::encodeName(dir.path()) + "/run_\xff\xfe";
    for (const QByteArray &suffix : {QByteArray(".csv"), QByteArray(".txt")}) {
        const int fd = ::open((base + suffix).constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        QVERIFY(fd >= 0);
        const QByteArray text =
            suffix == ".csv" ? "0,1,2\n1,3,4\n" : "Quellspan live recording\nSensors: 1\n";
        QCOMPARE(::write(fd, text.constData(), size_t(text.size())), ssize_t(text.size()));
        ::close(fd);
    }
    QByteArray program("quellspan"), named = base;
    char *argv[] = {program.data(), named.data()};
    const QStringList arguments = decodedArguments(2, argv);
    const QString csv = arguments.at(1) + QStringLiteral(".csv");
    RecordingData data;
    const RecordingReadReport report = RecordingReader().read(csv, &data);
    QVERIFY2(report.ok(), qPrintable(report.errorMessage()));
    QCOMPARE(data.rows(), 2);
    RunDescription description;
    QString error;
    QVERIFY2(readRunDescription(descriptionFileName(csv), &description, &error), qPrintable(error));
    QCOMPARE(description.sensorCount, 1);
}

QTEST_GUILESS_MAIN(TestFileNames)
#include "tst_filenames.moc"
