// SPDX-License-Identifier: GPL-3.0-or-later
// docs/architecture.md against the build: its table names every target of the project with the
// folder that builds it and the project targets it links, exactly as the CMake files say; and no
// folder's sources include a header of a library that their own library does not reach through
// what it links.

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QtTest>

namespace {

using Links = QMap<QString, QSet<QString>>; // target -> the project targets it links

QString readText(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(path));
    return QString::fromUtf8(file.readAll());
}

QString sourcePath(const QString &relative)
{
    return QDir(QStringLiteral(SOURCE_DIR)).filePath(relative);
}

bool isProjectTarget(const QString &name)
{
    return name == QLatin1String("quellspan") || name.startsWith(QLatin1String("quellspan_")) ||
           name.startsWith(QLatin1String("quellspan-"));
}

// What the table of docs/architecture.md says: each target's folder and links.
struct Documented
{
    QMap<QString, QString> folders; // target -> folder ("data/")
    Links links;
    QStringList problems;
};

Documented readDocument()
{
    Documented d;
    const QRegularExpression quoted(QStringLiteral("`([^`]+)`"));
    for (const QString &line : readText(sourcePath(QStringLiteral("docs/architecture.md"))).split('\n')) {
        if (!line.startsWith(QLatin1String("| `")))
            continue;
        const QStringList cells = line.split('|');
        if (cells.size() != 6)
            continue;
        const QString folder = cells[1].trimmed().remove('`');
        const QString target = cells[2].trimmed().remove('`');
        if (!isProjectTarget(target))
            continue;
        if (d.folders.contains(target))
            d.problems << QStringLiteral("%1 has two rows").arg(target);
        d.folders[target] = folder;
        QSet<QString> &links = d.links[target];
        for (auto m = quoted.globalMatch(cells[4]); m.hasNext();)
            links.insert(m.next().captured(1));
    }
    return d;
}

// What the CMake files say.
struct Built
{
    QMap<QString, QString> folders;
    Links links;
};

QString withoutComments(const QString &cmake)
{
    QStringList lines = cmake.split('\n');
    for (QString &line : lines) {
        const int hash = line.indexOf('#');
        if (hash >= 0)
            line.truncate(hash);
    }
    return lines.join('\n');
}

Built readCMake()
{
    const QDir root(QStringLiteral(SOURCE_DIR));
    QMap<QString, QString> texts; // folder -> its CMakeLists.txt without comments
    QDirIterator it(root.path(), {QStringLiteral("CMakeLists.txt")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = root.relativeFilePath(path);
        // Build folders made inside the source tree are not the project's.
        if (relative.startsWith(QLatin1String("build")) || relative.startsWith('.'))
            continue;
        const QString folder = relative.chopped(int(qstrlen("CMakeLists.txt")));
        texts[folder] = withoutComments(readText(path));
    }

    Built b;
    const QRegularExpression made(QStringLiteral("add_(?:library|executable)\\s*\\(\\s*([\\w-]+)"));
    for (auto t = texts.cbegin(); t != texts.cend(); ++t) {
        for (auto m = made.globalMatch(t.value()); m.hasNext();) {
            const QString target = m.next().captured(1);
            if (isProjectTarget(target))
                b.folders[target] = t.key();
        }
    }
    const QRegularExpression linked(QStringLiteral("target_link_libraries\\s*\\(\\s*([\\w-]+)([^)]*)\\)"));
    const QRegularExpression sources(QStringLiteral("target_sources\\s*\\(\\s*([\\w-]+)([^)]*)\\)"));
    const QRegularExpression objects(QStringLiteral("\\$<TARGET_OBJECTS:([\\w-]+)>"));
    for (const QString &text : qAsConst(texts)) {
        for (auto m = linked.globalMatch(text); m.hasNext();) {
            const QRegularExpressionMatch match = m.next();
            if (!b.folders.contains(match.captured(1)))
                continue;
            QSet<QString> &links = b.links[match.captured(1)];
            for (const QString &word : match.captured(2).split(QRegularExpression(QStringLiteral("\\s+")))) {
                if (b.folders.contains(word))
                    links.insert(word);
            }
        }
        for (auto m = sources.globalMatch(text); m.hasNext();) {
            const QRegularExpressionMatch match = m.next();
            if (!b.folders.contains(match.captured(1)))
                continue;
            for (auto o = objects.globalMatch(match.captured(2)); o.hasNext();)
                b.links[match.captured(1)].insert(o.next().captured(1));
        }
    }
    for (const QString &target : b.folders.keys())
        b.links[target]; // a target that links nothing of the project has an empty entry
    return b;
}

QString listed(QSet<QString> names)
{
    QStringList list = names.values();
    list.sort();
    return list.isEmpty() ? QStringLiteral("none") : list.join(QLatin1String(", "));
}

// Every target reached from the given ones through their links, the given ones included.
QSet<QString> reached(const Links &links, const QSet<QString> &from)
{
    QSet<QString> all = from;
    QStringList todo = from.values();
    while (!todo.isEmpty()) {
        for (const QString &next : links.value(todo.takeLast())) {
            if (!all.contains(next)) {
                all.insert(next);
                todo << next;
            }
        }
    }
    return all;
}

} // namespace

class TestArchitecture : public QObject
{
    Q_OBJECT

private slots:
    void tableMatchesTheBuild();
    void includesStayWithinWhatIsLinked();
    void theOnlyCycleIsTheWindows();
};

void TestArchitecture::tableMatchesTheBuild()
{
    const Documented doc = readDocument();
    const Built built = readCMake();
    QVERIFY2(doc.problems.isEmpty(), qPrintable(doc.problems.join('\n')));
    QVERIFY2(built.folders.size() >= 20, qPrintable(QString::number(built.folders.size())));

    QStringList wrong;
    for (auto t = built.folders.cbegin(); t != built.folders.cend(); ++t) {
        if (!doc.folders.contains(t.key()))
            wrong << QStringLiteral("%1 (%2) is not in the table").arg(t.key(), t.value());
        else if (doc.folders[t.key()] != t.value())
            wrong << QStringLiteral("%1 is built in %2, the table says %3")
                         .arg(t.key(), t.value(), doc.folders[t.key()]);
        else if (doc.links[t.key()] != built.links[t.key()])
            wrong << QStringLiteral("%1 links %2, the table says %3")
                         .arg(t.key(), listed(built.links[t.key()]), listed(doc.links[t.key()]));
    }
    for (const QString &target : doc.folders.keys()) {
        if (!built.folders.contains(target))
            wrong << QStringLiteral("%1 is in the table but not built").arg(target);
    }
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join('\n')));
}

void TestArchitecture::includesStayWithinWhatIsLinked()
{
    const Documented doc = readDocument();
    QMap<QString, QSet<QString>> targetsOf; // folder -> the targets it builds
    for (auto t = doc.folders.cbegin(); t != doc.folders.cend(); ++t)
        targetsOf[t.value()].insert(t.key());
    // The folder whose library a header belongs to: the longest folder its path starts with.
    const auto ownerOf = [&](const QString &header) {
        QString best;
        for (const QString &folder : targetsOf.keys()) {
            if (header.startsWith(folder) && folder.size() > best.size())
                best = folder;
        }
        return best;
    };

    const QRegularExpression include(QStringLiteral("^\\s*#\\s*include\\s+\"([^\"]+)\""),
                                     QRegularExpression::MultilineOption);
    QStringList wrong;
    int checked = 0;
    for (auto f = targetsOf.cbegin(); f != targetsOf.cend(); ++f) {
        const QSet<QString> reachable = reached(doc.links, f.value());
        const QDir dir(sourcePath(f.key()));
        for (const QString &name :
             dir.entryList({QStringLiteral("*.h"), QStringLiteral("*.cpp")}, QDir::Files)) {
            const QString text = readText(dir.filePath(name));
            for (auto m = include.globalMatch(text); m.hasNext();) {
                const QString header = m.next().captured(1);
                const QString owner = ownerOf(header);
                if (owner.isEmpty() || owner == f.key())
                    continue;
                ++checked;
                if (!reachable.intersects(targetsOf[owner]))
                    wrong << QStringLiteral("%1%2 includes %3, but %4 does not reach %5")
                                 .arg(f.key(), name, header, listed(f.value()), listed(targetsOf[owner]));
            }
        }
    }
    QVERIFY2(checked > 100, qPrintable(QString::number(checked)));
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join('\n')));
}

void TestArchitecture::theOnlyCycleIsTheWindows()
{
    // Which targets reach themselves again through their links.
    const Built built = readCMake();
    QSet<QString> inCycles;
    for (const QString &target : built.folders.keys()) {
        if (reached(built.links, built.links.value(target)).contains(target))
            inCycles.insert(target);
    }
    QCOMPARE(listed(inCycles), QStringLiteral("quellspan_acquisition, quellspan_controlpanel"));
}

QTEST_GUILESS_MAIN(TestArchitecture)
#include "tst_architecture.moc"
