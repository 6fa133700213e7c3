// SPDX-License-Identifier: GPL-3.0-or-later
#include "acquisition/readouts/readoutdigits.h"

#include <QLCDNumber>
#include <QPainter>

namespace {

// Resizing the window makes new sizes all the time: past these, all pictures are let go.
constexpr int MaxLooks = 32;
constexpr int MaxGlyphs = 4096;

// What a number shows as: the characters it is made of, and those it could be drawn with.
bool knownCharacter(QChar c)
{
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char(' ') ||
           c == QLatin1Char('-') || c == QLatin1Char('.') || c == QLatin1Char('e');
}

// The places of the readout's value, when all of them can be drawn from pictures.
QVector<ReadoutDigits::Place> drawablePlaces(const QLCDNumber &readout, int ratio)
{
    if (readout.mode() != QLCDNumber::Dec || ratio < 1 || readout.size().isEmpty())
        return {};
    const QVector<ReadoutDigits::Place> shown =
        ReadoutDigits::places(readout.value(), readout.digitCount(), readout.smallDecimalPoint());
    for (const ReadoutDigits::Place &p : shown) {
        if (!knownCharacter(p.ch))
            return {};
    }
    return shown;
}

} // namespace

bool ReadoutDigits::LookKey::operator==(const LookKey &o) const
{
    return size == o.size && digits == o.digits && segmentStyle == o.segmentStyle &&
           frameStyle == o.frameStyle && lineWidth == o.lineWidth && midLineWidth == o.midLineWidth &&
           colourGroup == o.colourGroup && ratio == o.ratio && smallPoint == o.smallPoint &&
           palette == o.palette;
}

uint qHash(const ReadoutDigits::LookKey &key, uint seed)
{
    return qHash(key.palette, seed) ^ qHash(key.size.width() * 65599 + key.size.height()) ^
           qHash((key.digits << 12) ^ (key.segmentStyle << 8) ^ (key.colourGroup << 4) ^ key.ratio) ^
           uint(key.smallPoint);
}

QVector<ReadoutDigits::Place> ReadoutDigits::places(double value, int digitCount, bool smallPoint)
{
    // As the readout writes a number: the most significant digits that fit, and an exponent
    // written " e" for "e+".
    QString text;
    int precision = digitCount;
    do {
        text = QString::asprintf("%*.*g", digitCount, precision, value);
        const int e = text.indexOf(QLatin1Char('e'));
        if (e > 0 && e + 1 < text.size() && text[e + 1] == QLatin1Char('+')) {
            text[e] = QLatin1Char(' ');
            text[e + 1] = QLatin1Char('e');
        }
    } while (precision-- && text.size() > digitCount);
    if (digitCount <= 0 || text.size() > digitCount)
        return {};

    QVector<Place> shown;
    shown.reserve(digitCount);
    for (const QChar c : qAsConst(text)) {
        if (smallPoint && c == QLatin1Char('.')) {
            // A small point goes with the character before it; one with none gets a blank.
            if (!shown.isEmpty() && !shown.last().point) {
                shown.last().point = true;
                continue;
            }
            if (shown.size() == digitCount)
                break;
            shown.append({QLatin1Char(' '), true});
            continue;
        }
        if (shown.size() == digitCount)
            break;
        shown.append({c, false});
    }
    while (shown.size() < digitCount)
        shown.prepend({QLatin1Char(' '), false});
    return shown;
}

ReadoutDigits::ReadoutDigits(QStyle *style) : model(new QLCDNumber)
{
    model->setStyle(style);
}

ReadoutDigits::~ReadoutDigits() = default;

ReadoutDigits::LookKey ReadoutDigits::keyOf(const QLCDNumber &readout, int ratio)
{
    const QPalette &palette = readout.palette();
    return {readout.size(),
            readout.digitCount(),
            int(readout.segmentStyle()),
            readout.frameStyle(),
            readout.lineWidth(),
            readout.midLineWidth(),
            int(palette.currentColorGroup()),
            ratio,
            readout.smallDecimalPoint(),
            palette.cacheKey()};
}

void ReadoutDigits::shape(const QLCDNumber &readout)
{
    model->resize(readout.size());
    model->setDigitCount(readout.digitCount());
    model->setSmallDecimalPoint(readout.smallDecimalPoint());
    model->setSegmentStyle(readout.segmentStyle());
    model->setFrameStyle(readout.frameStyle());
    model->setLineWidth(readout.lineWidth());
    model->setMidLineWidth(readout.midLineWidth());
    model->setLayoutDirection(readout.layoutDirection());
    // The model is never shown, so it would draw with the active colours: it gets the colours
    // the readout draws with now (disabled, or in an inactive window) in every group.
    const QPalette &own = readout.palette();
    QPalette colours = own;
    for (int role = 0; role < QPalette::NColorRoles; ++role) {
        const auto r = QPalette::ColorRole(role);
        for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            colours.setBrush(group, r, own.brush(own.currentColorGroup(), r));
    }
    model->setPalette(colours);
}

QImage ReadoutDigits::modelShowing(const QString &text, int ratio)
{
    model->display(text);
    QImage image(model->size() * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    model->render(&painter, QPoint(), QRegion(), QWidget::RenderFlags());
    return image;
}

const ReadoutDigits::Glyph &ReadoutDigits::glyph(Look &look, const QLCDNumber &readout, int ratio, int index,
                                                 Place place)
{
    const quint32 code = (quint32(place.ch.unicode()) << 16) | (quint32(index) << 1) | quint32(place.point);
    auto found = look.glyphs.constFind(code);
    if (found != look.glyphs.constEnd())
        return *found;

    // The character alone in its place, on the model, against the model showing nothing: the
    // pixels that differ are the character's, and only they are kept.
    shape(readout);
    if (look.empty.isNull())
        look.empty = modelShowing(QString(), ratio);
    QString text(place.ch);
    if (place.point)
        text += QLatin1Char('.');
    text += QString(readout.digitCount() - 1 - index, QLatin1Char(' '));
    QImage shown = modelShowing(text, ratio);
    ++made;
    ++glyphCount;

    const QImage &empty = look.empty;
    int left = shown.width(), right = -1, top = shown.height(), bottom = -1;
    for (int y = 0; y < shown.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(shown.scanLine(y));
        const auto *under = reinterpret_cast<const QRgb *>(empty.constScanLine(y));
        for (int x = 0; x < shown.width(); ++x) {
            if (line[x] == under[x]) {
                line[x] = 0;
            } else {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    Glyph g;
    if (right >= 0) {
        // Whole logical pixels, so the picture lands on device pixels one for one.
        const int x0 = left / ratio * ratio, y0 = top / ratio * ratio;
        const int x1 = (right / ratio + 1) * ratio, y1 = (bottom / ratio + 1) * ratio;
        g.image = shown.copy(x0, y0, x1 - x0, y1 - y0);
        g.image.setDevicePixelRatio(ratio);
        g.at = QPoint(x0 / ratio, y0 / ratio);
    }
    return *look.glyphs.insert(code, g);
}

bool ReadoutDigits::canDraw(const QLCDNumber &readout, int ratio)
{
    return !drawablePlaces(readout, ratio).isEmpty();
}

bool ReadoutDigits::draw(const QLCDNumber &readout, QPainter &painter, int ratio)
{
    const QVector<Place> shown = drawablePlaces(readout, ratio);
    if (shown.isEmpty())
        return false;
    const LookKey key = keyOf(readout, ratio);
    auto look = looks.find(key);
    if (look == looks.end()) {
        if (looks.size() >= MaxLooks || glyphCount >= MaxGlyphs) {
            looks.clear();
            glyphCount = 0;
        }
        look = looks.insert(key, Look());
    }
    for (int i = 0; i < shown.size(); ++i) {
        if (shown[i].ch == QLatin1Char(' ') && !shown[i].point)
            continue;
        const Glyph &g = glyph(*look, readout, ratio, i, shown[i]);
        if (!g.image.isNull())
            painter.drawImage(g.at, g.image);
    }
    return true;
}
