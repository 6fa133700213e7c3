// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QList>
#include <QPixmap>
#include <QProxyStyle>

class QLCDNumber;

// Draws the readouts' frames from pictures of them. A readout draws its frame again with every
// new value it shows, and those few lines cost a third of its repaint, though the frame never
// changes. The pictures are the application style's own drawing of each frame, made once per
// size, look and pixel ratio, so the readouts look exactly as they would without it.
class ReadoutFrames : public QProxyStyle
{
    Q_OBJECT

public:
    // Serves the frames of readouts; parent owns it and must outlive their painting. Returns
    // null and leaves the readouts alone when the application's style can't be made again by name.
    static ReadoutFrames *install(const QList<QLCDNumber *> &readouts, QObject *parent);

    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget = nullptr) const override;

    // How many frame pictures were made so far (one per distinct frame, not per repaint).
    int picturesMade() const { return made; }

private:
    explicit ReadoutFrames(QStyle *base);

    mutable QHash<QString, QPixmap> pictures;
    mutable int made = 0;
};
