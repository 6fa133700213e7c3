// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QSize>

class QAction;
class QWidget;

// "Image Size" in the charts' menu, beside "Save Image...": the saved PNG as shown on screen (the
// default), 1600 x 1200 pixels, or a size the operator types ("Custom..."). Object names:
// actionImageSize, actionImageAsShown, actionImage1600, actionImageCustom.
class ImageSizeMenu : public QObject
{
    Q_OBJECT

public:
    explicit ImageSizeMenu(QWidget *window);

    QAction *action() const { return menuAction; }
    // The chosen size in pixels; empty: as shown.
    QSize size() const { return chosen; }
    void setSize(const QSize &size);

    // "1920 x 1080" (or with "×"), each side from 16 to 16384 pixels; empty when it is not that.
    static QSize parse(const QString &text);

private:
    void askCustom();
    void showChoice();

    QWidget *window;
    QAction *menuAction;
    QAction *asShown, *standard, *custom;
    QSize chosen;
};
