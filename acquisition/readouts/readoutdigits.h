// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QImage>
#include <QPoint>
#include <QScopedPointer>
#include <QSize>
#include <QVector>

class QLCDNumber;
class QPainter;
class QStyle;

// Draws a readout's digits from pictures of each character in each place, made once by a
// readout of the same size and look (QLCDNumber's own drawing). A readout draws every segment
// as a few antialiased lines at each new value, which would cost more than anything else the
// program does to show a record (docs/performance.md). tst_window2controls compares every
// readout drawn from pictures with the readout drawing itself (frames exact, digits within two
// levels where blending rounds).
class ReadoutDigits
{
public:
    // The places as a readout fills them for a number given to display(double): characters,
    // right-aligned, each with its decimal point where points are small. Empty when the number
    // doesn't fit (the readout then keeps what it showed).
    struct Place
    {
        QChar ch;
        bool point = false;
    };
    static QVector<Place> places(double value, int digitCount, bool smallPoint);

    // The model readout draws its frame with style, which must not draw digits through here.
    explicit ReadoutDigits(QStyle *style);
    ~ReadoutDigits();

    // Draws the digits readout shows for its value() with painter, in the readout's own
    // coordinates at the given whole device pixel ratio, and returns true. Returns false,
    // drawing nothing, where it can't be sure to look the same: a base other than decimal, a
    // value that doesn't fit, a character it doesn't know. For readouts given numbers only
    // (display(double) or display(int)): a text given to display(QString) can't be read back.
    bool draw(const QLCDNumber &readout, QPainter &painter, int ratio);
    // Whether draw() would draw the readout's digits, without drawing them.
    static bool canDraw(const QLCDNumber &readout, int ratio);

    // How many pictures were made so far (one per character, place and look, not per repaint).
    int picturesMade() const { return made; }

private:
    struct Glyph
    {
        QPoint at; // top left, in the readout's coordinates
        QImage image;
    };
    // One size and look of readout at one pixel ratio.
    struct Look
    {
        QImage empty; // the model with nothing shown
        QHash<quint32, Glyph> glyphs;
    };
    struct LookKey
    {
        QSize size;
        int digits, segmentStyle, frameStyle, lineWidth, midLineWidth, colourGroup, ratio;
        bool smallPoint;
        qint64 palette;
        bool operator==(const LookKey &o) const;
    };
    friend uint qHash(const LookKey &key, uint seed);

    static LookKey keyOf(const QLCDNumber &readout, int ratio);
    void shape(const QLCDNumber &readout);
    QImage modelShowing(const QString &text, int ratio);
    const Glyph &glyph(Look &look, const QLCDNumber &readout, int ratio, int index, Place place);

    QScopedPointer<QLCDNumber> model;
    QHash<LookKey, Look> looks;
    int glyphCount = 0;
    int made = 0;
};
