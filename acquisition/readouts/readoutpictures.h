// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "acquisition/readouts/readoutdigits.h"

#include <QHash>
#include <QList>
#include <QPixmap>
#include <QProxyStyle>

#include <array>

class QLCDNumber;
class QStyleOptionFrame;

// Draws the readouts from pictures: their frames, and their digits (ReadoutDigits). A readout
// draws its frame and every segment again with each new value it shows, though the frame never
// changes and a digit always looks the same in the same place. The frame pictures are the
// application style's own drawing of each frame, made once per size, look and pixel ratio, so
// the frames look exactly as they would without it. As the readouts' style it serves their
// frames; as a filter of their paint events it draws the frame and the digits itself where the
// digits can come from pictures, and otherwise lets the readout draw itself. The style's own
// frame lines are dear to draw at every value (docs/performance.md).
class ReadoutPictures : public QProxyStyle
{
    Q_OBJECT

public:
    // Serves the frames of readouts; parent owns it and must outlive their painting. Returns
    // null and leaves the readouts alone when the application's style can't be made again by name.
    static ReadoutPictures *install(const QList<QLCDNumber *> &readouts, QObject *parent);

    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget = nullptr) const override;
    bool eventFilter(QObject *watched, QEvent *event) override;

    // How many frame pictures were made so far (one per distinct frame, not per repaint).
    int picturesMade() const { return made; }
    // How many digit pictures were made, and how often a readout's digits were drawn from them.
    int digitPicturesMade() const { return digits.picturesMade(); }
    quint64 digitsDrawn() const { return digitsServed; }

private:
    explicit ReadoutPictures(QStyle *base);

    // Everything a frame's drawing depends on.
    struct FrameKey
    {
        std::array<qint64, 10> fields;
        bool operator==(const FrameKey &o) const { return fields == o.fields; }
    };
    friend uint qHash(const FrameKey &key, uint seed)
    {
        return qHashRange(key.fields.begin(), key.fields.end(), seed);
    }
    static FrameKey frameKey(const QStyleOptionFrame &frame, qreal pixelRatio);
    // Draws the whole readout, frame and digits, and returns true; or draws nothing and returns
    // false where the readout must draw itself.
    bool paintReadout(QLCDNumber *readout);

    mutable QHash<FrameKey, QPixmap> pictures;
    mutable int made = 0;
    ReadoutDigits digits;
    quint64 digitsServed = 0;
};
