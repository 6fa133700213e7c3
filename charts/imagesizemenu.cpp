// SPDX-License-Identifier: GPL-3.0-or-later
#include "charts/imagesizemenu.h"

#include <QAction>
#include <QActionGroup>
#include <QInputDialog>
#include <QMenu>
#include <QRegularExpression>

namespace {
const QSize Standard(1600, 1200);
constexpr int Smallest = 16;
constexpr int Largest = 16384;
} // namespace

ImageSizeMenu::ImageSizeMenu(QWidget *window) : QObject(window), window(window)
{
    menuAction = new QAction(tr("Image Size"), this);
    menuAction->setObjectName(QStringLiteral("actionImageSize"));
    auto *menu = new QMenu(window);
    menuAction->setMenu(menu);
    auto *group = new QActionGroup(menu);
    asShown = menu->addAction(tr("As Shown"));
    asShown->setObjectName(QStringLiteral("actionImageAsShown"));
    standard = menu->addAction(tr("1600 x 1200 Pixels"));
    standard->setObjectName(QStringLiteral("actionImage1600"));
    custom = menu->addAction(tr("Custom..."));
    custom->setObjectName(QStringLiteral("actionImageCustom"));
    for (QAction *a : {asShown, standard, custom}) {
        a->setCheckable(true);
        group->addAction(a);
    }
    connect(asShown, &QAction::triggered, this, [this] { setSize(QSize()); });
    connect(standard, &QAction::triggered, this, [this] { setSize(Standard); });
    connect(custom, &QAction::triggered, this, &ImageSizeMenu::askCustom);
    showChoice();
}

void ImageSizeMenu::setSize(const QSize &size)
{
    chosen = size;
    showChoice();
}

QSize ImageSizeMenu::parse(const QString &text)
{
    static const QRegularExpression pattern(
        QStringLiteral("^\\s*(\\d{1,5})\\s*[x\u00d7X*]\\s*(\\d{1,5})\\s*$"));
    const QRegularExpressionMatch m = pattern.match(text);
    if (!m.hasMatch())
        return QSize();
    const QSize size(m.captured(1).toInt(), m.captured(2).toInt());
    const auto fits = [](int side) { return side >= Smallest && side <= Largest; };
    return fits(size.width()) && fits(size.height()) ? size : QSize();
}

void ImageSizeMenu::askCustom()
{
    const QSize before = chosen.isEmpty() ? Standard : chosen;
    QString text = QStringLiteral("%1 x %2").arg(before.width()).arg(before.height());
    QString why;
    for (;;) {
        bool ok = false;
        text = QInputDialog::getText(
            window, tr("Image Size"),
            why + tr("Width x height of saved images, in pixels (%1 to %2 each):").arg(Smallest).arg(Largest),
            QLineEdit::Normal, text, &ok);
        if (!ok)
            break;
        if (const QSize size = parse(text); !size.isEmpty()) {
            setSize(size);
            return;
        }
        why = tr("\"%1\" is not a size such as 1920 x 1080.\n").arg(text);
    }
    showChoice(); // cancelled: the choice before stays
}

void ImageSizeMenu::showChoice()
{
    if (chosen.isEmpty())
        asShown->setChecked(true);
    else if (chosen == Standard)
        standard->setChecked(true);
    else
        custom->setChecked(true);
    custom->setText(chosen.isEmpty() || chosen == Standard
                        ? tr("Custom...")
                        : tr("Custom (%1 x %2)...").arg(chosen.width()).arg(chosen.height()));
}
