// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/rememberedsettings.h"

#include "data/csvnumber.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QLocale>
#include <QSpinBox>
#include <QStandardPaths>

#include <cmath>
#include <memory>
#include <optional>

namespace {

const QString CountKey = QStringLiteral("controlPanel/sensorCount");
const QString SaveFolderKey = QStringLiteral("acquisition/saveFolder");

QString sensitivityKey(int sensor)
{
    return QStringLiteral("controlPanel/sensitivity%1").arg(sensor);
}

bool isText(const QVariant &stored)
{
    return stored.userType() == QMetaType::QString;
}

bool isSensor(int sensor)
{
    return sensor >= 1 && sensor <= RememberedSettings::Sensors;
}

// A text the operator could have typed into a one-line field, of a sensible length.
bool isFieldText(const QString &text)
{
    if (text.size() > RememberedSettings::MaxTextLength)
        return false;
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

QString said(const char *text)
{
    return QCoreApplication::translate("RememberedSettings", text);
}

QString &setAsideReport()
{
    static QString report;
    return report;
}

// The settings file's path, as QSettings makes it for the user's INI file of this program. Before
// it is read, a file that can't be one is set aside.
QString usableSettingsFile()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (folder.isEmpty())
        folder = QDir::homePath() + QStringLiteral("/.config");
    const QString program = QCoreApplication::applicationName();
    const QString path = QStringLiteral("%1/%2/%3.ini").arg(folder, program, program);

    const QFileInfo info(path); // a link is judged by what it leads to, and set aside itself
    if (!info.exists() && !info.isSymLink())
        return path;
    QString why;
    if (!info.isFile())
        why = info.isDir() ? said("it is a folder") : said("it is not a plain file");
    else if (info.size() > RememberedSettings::MaxFileSize)
        why = said("it is too large (%1 bytes)").arg(info.size());
    if (why.isEmpty())
        return path;

    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = QStringLiteral("%1.set-aside-%2").arg(path, stamp);
    for (int n = 2; QFileInfo(aside).exists() || QFileInfo(aside).isSymLink(); ++n)
        aside = QStringLiteral("%1.set-aside-%2-%3").arg(path, stamp).arg(n);
    const QString native = QDir::toNativeSeparators(path);
    if (QFile::rename(path, aside)) {
        setAsideReport() = said("The settings file %1 was not read (%2); it is kept as %3. "
                                "The program starts as on its first run.")
                               .arg(native, why, QDir::toNativeSeparators(aside));
        return path;
    }
    // Not even set aside: it is neither read nor written in this run.
    setAsideReport() = said("The settings file %1 was not read (%2) and could not be set "
                            "aside; the program starts as on its first run and remembers "
                            "nothing of this one.")
                           .arg(native, why);
    return QString();
}

} // namespace

RememberedSettings::RememberedSettings() : settings(usableSettingsFile(), QSettings::IniFormat)
{
    // A file that does not parse is started afresh; one that cannot be read simply reads as empty.
    if (settings.status() == QSettings::FormatError)
        settings.clear();
}

int RememberedSettings::sensorCount() const
{
    const QVariant stored = settings.value(CountKey);
    bool ok = false;
    const int count = isText(stored) || stored.userType() == QMetaType::Int ? stored.toInt(&ok) : 0;
    return ok && isSensor(count) ? count : 1;
}

void RememberedSettings::setSensorCount(int count)
{
    if (isSensor(count))
        settings.setValue(CountKey, count);
}

QString RememberedSettings::sensitivity(int sensor) const
{
    if (!isSensor(sensor))
        return QString();
    const QVariant stored = settings.value(sensitivityKey(sensor));
    if (!isText(stored))
        return QString();
    const QString text = stored.toString();
    return isFieldText(text) ? text : QString();
}

void RememberedSettings::setSensitivity(int sensor, const QString &text)
{
    if (!isSensor(sensor))
        return;
    if (isFieldText(text))
        settings.setValue(sensitivityKey(sensor), text);
    else
        settings.remove(sensitivityKey(sensor));
}

QString RememberedSettings::saveFolder() const
{
    const QVariant stored = settings.value(SaveFolderKey);
    if (!isText(stored))
        return QString();
    const QString folder = stored.toString();
    return QDir::isAbsolutePath(folder) && QFileInfo(folder).isDir() ? QDir::cleanPath(folder) : QString();
}

void RememberedSettings::rememberSaveFolderOf(const QString &savedFile)
{
    settings.setValue(SaveFolderKey, QFileInfo(savedFile).absolutePath());
}

QString RememberedSettings::saveProposal(const QString &fileName) const
{
    const QString folder = saveFolder();
    return folder.isEmpty() ? fileName : QDir(folder).filePath(fileName);
}

QString RememberedSettings::takeSetAsideReport()
{
    QString report;
    report.swap(setAsideReport());
    return report;
}

const QString TimeStyleKey = QStringLiteral("charts/timeAxis");

TimeStyle RememberedSettings::timeStyle() const
{
    const QVariant stored = settings.value(TimeStyleKey);
    return isText(stored) ? timeStyleFromName(stored.toString()) : TimeStyle::Seconds;
}

void RememberedSettings::setTimeStyle(TimeStyle style)
{
    settings.setValue(TimeStyleKey, timeStyleName(style));
}

void RememberedSettings::followTimeStyle()
{
    TimeStyleChoice::instance()->setMemory([] { return RememberedSettings().timeStyle(); },
                                           [](TimeStyle style) { RememberedSettings().setTimeStyle(style); });
}

void RememberedSettings::forgetAll()
{
    settings.clear();
    settings.sync();
}

void RememberedSettings::restoreAndFollow(QSpinBox *count,
                                          const std::array<QLineEdit *, Sensors> &sensitivities)
{
    // One settings object for the panel's life: the connections own it, and it writes the file
    // soon after each change and when the widgets go.
    auto remembered = std::make_shared<RememberedSettings>();
    count->setValue(remembered->sensorCount());
    QObject::connect(count, QOverload<int>::of(&QSpinBox::valueChanged), count,
                     [remembered](int value) { remembered->setSensorCount(value); });
    for (int s = 1; s <= Sensors; ++s) {
        QLineEdit *edit = sensitivities[size_t(s - 1)];
        edit->setText(remembered->sensitivity(s));
        QObject::connect(edit, &QLineEdit::textChanged, edit,
                         [remembered, s](const QString &text) { remembered->setSensitivity(s, text); });
    }
}

namespace {

const QString WallTestHeatFluxKey = QStringLiteral("wallTest/heatFluxSensor");
const QString WallTestWarmKey = QStringLiteral("wallTest/warmSensor");
const QString WallTestColdKey = QStringLiteral("wallTest/coldSensor");
const QString WallTestHeavyKey = QStringLiteral("wallTest/heavy");
const QString WallTestRsiKey = QStringLiteral("wallTest/insideSurfaceResistance");
const QString WallTestRseKey = QStringLiteral("wallTest/outsideSurfaceResistance");
const QString WallTestCapacityKey = QStringLiteral("wallTest/arealHeatCapacity");
const QString WallTestStepKey = QStringLiteral("wallTest/dynamicStepHours");
const QString WallTestElementKey = QStringLiteral("wallTest/element");
const QString WallTestPlaceKey = QStringLiteral("wallTest/place");

QString coefficientKey(int sensor)
{
    return QStringLiteral("wallTest/temperatureCoefficient%1").arg(sensor);
}

QString calibrationKey(int sensor)
{
    return QStringLiteral("wallTest/calibrationTemperature%1").arg(sensor);
}

// A number written by this program (text in the file, a double or an int before it is written),
// or nothing.
std::optional<double> storedNumber(const QVariant &stored)
{
    const int type = stored.userType();
    if (type != QMetaType::QString && type != QMetaType::Double && type != QMetaType::Int)
        return std::nullopt;
    bool ok = false;
    const double value =
        type == QMetaType::QString ? QLocale::c().toDouble(stored.toString(), &ok) : stored.toDouble(&ok);
    return ok && std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

} // namespace

WallTestSetup RememberedSettings::wallTestSetup() const
{
    WallTestSetup setup;
    int *const sensors[] = {&setup.heatFluxSensor, &setup.warmSensor, &setup.coldSensor};
    const QString sensorKeys[] = {WallTestHeatFluxKey, WallTestWarmKey, WallTestColdKey};
    for (int i = 0; i < 3; ++i) {
        const std::optional<double> sensor = storedNumber(settings.value(sensorKeys[i]));
        if (sensor && *sensor >= 1 && *sensor <= Sensors && *sensor == std::floor(*sensor))
            *sensors[i] = int(*sensor);
    }
    const QVariant heavy = settings.value(WallTestHeavyKey);
    setup.settings.heavy = heavy.userType() == QMetaType::Bool
                               ? heavy.toBool()
                               : isText(heavy) && heavy.toString() == QLatin1String("true");
    // Each value on its own: one that makes no sense leaves the others as they were kept.
    WallTestSettings candidate = setup.settings;
    if (const std::optional<double> rsi = storedNumber(settings.value(WallTestRsiKey)))
        candidate.rsi = *rsi;
    if (candidate.problem().isEmpty())
        setup.settings = candidate;
    candidate = setup.settings;
    if (const std::optional<double> rse = storedNumber(settings.value(WallTestRseKey)))
        candidate.rse = *rse;
    if (candidate.problem().isEmpty())
        setup.settings = candidate;
    candidate = setup.settings;
    candidate.capacity = storedNumber(settings.value(WallTestCapacityKey));
    if (candidate.problem().isEmpty())
        setup.settings = candidate;
    candidate = setup.settings;
    if (const std::optional<double> hours = storedNumber(settings.value(WallTestStepKey)))
        candidate.step = *hours * 3600;
    if (candidate.problem().isEmpty())
        setup.settings = candidate;
    for (int sensor = 1; sensor <= Sensors; ++sensor) {
        const std::optional<double> td = storedNumber(settings.value(coefficientKey(sensor)));
        const std::optional<double> tcal = storedNumber(settings.value(calibrationKey(sensor)));
        const FluxCorrection correction{td.value_or(0), tcal.value_or(FluxCorrection::DefaultCalibration)};
        if (correction.problem().isEmpty())
            setup.corrections[size_t(sensor - 1)] = correction;
    }
    const QVariant element = settings.value(WallTestElementKey), place = settings.value(WallTestPlaceKey);
    if (isText(element) && isFieldText(element.toString()))
        setup.element = element.toString();
    if (isText(place) && isFieldText(place.toString()))
        setup.place = place.toString();
    return setup;
}

void RememberedSettings::setWallTestSetup(const WallTestSetup &setup)
{
    settings.setValue(WallTestHeatFluxKey, setup.heatFluxSensor);
    settings.setValue(WallTestWarmKey, setup.warmSensor);
    settings.setValue(WallTestColdKey, setup.coldSensor);
    settings.setValue(WallTestHeavyKey, setup.settings.heavy);
    // Numbers as the shortest text that reads back exactly, whatever the locale.
    settings.setValue(WallTestRsiKey, QString::fromLatin1(formatCsvNumber(setup.settings.rsi)));
    settings.setValue(WallTestRseKey, QString::fromLatin1(formatCsvNumber(setup.settings.rse)));
    if (setup.settings.capacity)
        settings.setValue(WallTestCapacityKey,
                          QString::fromLatin1(formatCsvNumber(*setup.settings.capacity)));
    else
        settings.remove(WallTestCapacityKey);
    settings.setValue(WallTestStepKey, QString::fromLatin1(formatCsvNumber(setup.settings.step / 3600)));
    for (int sensor = 1; sensor <= Sensors; ++sensor) {
        const FluxCorrection &c = setup.corrections[size_t(sensor - 1)];
        settings.setValue(coefficientKey(sensor), QString::fromLatin1(formatCsvNumber(c.coefficient)));
        settings.setValue(calibrationKey(sensor), QString::fromLatin1(formatCsvNumber(c.calibration)));
    }
    settings.setValue(WallTestElementKey, setup.element);
    settings.setValue(WallTestPlaceKey, setup.place);
}

namespace {

const QString PublishEnabledKey = QStringLiteral("publish/enabled");
const QString PublishUrlKey = QStringLiteral("publish/url");
const QString PublishCaFileKey = QStringLiteral("publish/caFile");
const QString WatchedRigKey = QStringLiteral("watch/url");

} // namespace

PublishChoice RememberedSettings::publishChoice() const
{
    PublishChoice choice;
    const QVariant enabled = settings.value(PublishEnabledKey);
    choice.enabled = enabled.userType() == QMetaType::Bool
                         ? enabled.toBool()
                         : isText(enabled) && enabled.toString() == QLatin1String("true");
    const QVariant url = settings.value(PublishUrlKey);
    const QVariant caFile = settings.value(PublishCaFileKey);
    choice.url = isText(url) ? url.toString().left(MaxTextLength * 16) : QString();
    choice.caFile = isText(caFile) ? caFile.toString().left(MaxTextLength * 16) : QString();
    return choice;
}

void RememberedSettings::setPublishChoice(const PublishChoice &choice)
{
    settings.setValue(PublishEnabledKey, choice.enabled);
    settings.setValue(PublishUrlKey, choice.url);
    settings.setValue(PublishCaFileKey, choice.caFile);
}

QString RememberedSettings::watchedRig() const
{
    const QVariant url = settings.value(WatchedRigKey);
    return isText(url) ? url.toString().left(MaxTextLength * 16) : QString();
}

void RememberedSettings::setWatchedRig(const QString &url)
{
    settings.setValue(WatchedRigKey, url);
}
