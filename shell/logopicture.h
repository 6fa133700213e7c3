// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPixmap>
#include <QString>

class QLabel;

// The logo on a window's label, sharp on every screen: on a screen of more device pixels per
// pixel than one it is the logo drawn at twice its size (the file of the same name with "@2x"
// before the suffix), not the small one enlarged. It follows the window to a screen of another
// density. A picture that can't be loaded leaves the label empty, as before.
class LogoPicture : public QObject
{
    Q_OBJECT

public:
    // Shows the logo at path on label, now and whenever the label's density changes.
    static void show(QLabel *label, const QString &path);
    // The logo at path for a screen of ratio device pixels per pixel, with that pixel ratio set.
    static QPixmap forRatio(const QString &path, qreal ratio);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    LogoPicture(QLabel *label, const QString &path);
    void showFor(qreal ratio);

    QLabel *label;
    QString path;
    qreal shownRatio = 0;
};
