// SPDX-License-Identifier: GPL-3.0-or-later
#include "charts/chartmarksview.h"

#include "charts/chartfeeder.h"
#include "charts/chartmarks.h"
#include "data/csvnumber.h"
#include "data/runmarks.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QToolTip>

namespace {
constexpr int MinEditorWidth = 200;
} // namespace

ChartMarksView::ChartMarksView(ChartFeeder *feeder, RunMarks *marks, QObject *parent)
    : QObject(parent), feeder(feeder), marks(marks)
{
    for (int i = 0; i < 2; ++i) {
        layers[size_t(i)] = new ChartMarks(feeder->chart(i), marks);
        feeder->chart(i)->installEventFilter(this);
    }
    connect(marks, &RunMarks::added, this, &ChartMarksView::marksChanged);
    connect(marks, &RunMarks::noteChanged, this, &ChartMarksView::marksChanged);
    connect(marks, &RunMarks::markDeleted, this, [this](int entry) {
        if (openEditor && this->marks->entryOfMark(editedMark) == entry)
            closeEditor(false);
        marksChanged();
    });
    connect(marks, &RunMarks::cleared, this, [this] {
        closeEditor(false);
        marksChanged();
    });
}

int ChartMarksView::chartIndex(QObject *object) const
{
    for (int i = 0; i < 2; ++i) {
        if (object == feeder->chart(i))
            return i;
    }
    return -1;
}

void ChartMarksView::marksChanged()
{
    for (ChartMarks *layer : layers)
        layer->forgetLabels();
    tipEntry = -1;
    // Drawn with the axes: the next paced redraw draws the whole charts.
    feeder->frameContentChanged();
    feeder->requestRedraw();
}

QString ChartMarksView::describe(int entry) const
{
    if (entry < 0 || entry >= marks->entries().size())
        return QString();
    const RunEvent &e = marks->entries()[entry].event;
    return QStringLiteral("<b>%1</b><br>%2")
        .arg(e.note.toHtmlEscaped(),
             tr("%1 at t = %2 s").arg(runEventTitle(e.kind)).arg(shownNumber(e.time, 3)).toHtmlEscaped());
}

bool ChartMarksView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == openEditor && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
        closeEditor(false);
        return true;
    }
    const int index = chartIndex(watched);
    if (index < 0)
        return false;
    switch (event->type()) {
    case QEvent::MouseMove: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->buttons() == Qt::NoButton)
            hover(index, mouse->pos());
        return false;
    }
    case QEvent::Leave:
        if (tipEntry >= 0)
            QToolTip::hideText();
        tipEntry = -1;
        return false;
    case QEvent::MouseButtonDblClick: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        const int entry = layers[size_t(index)]->labelAt(mouse->localPos());
        if (!editable || mouse->button() != Qt::LeftButton || entry < 0 || !marks->entries()[entry].isMark())
            return false;
        editNote(index, entry);
        return true;
    }
    default:
        return false;
    }
}

void ChartMarksView::hover(int chart, const QPoint &pos)
{
    const int entry = layers[size_t(chart)]->markAt(pos);
    if (entry == tipEntry)
        return;
    tipEntry = entry;
    QCustomPlot *c = feeder->chart(chart);
    if (entry < 0)
        QToolTip::hideText();
    else
        QToolTip::showText(c->mapToGlobal(pos), describe(entry), c);
}

void ChartMarksView::editNote(int chart, int entry)
{
    closeEditor(false);
    if (entry < 0 || entry >= marks->entries().size())
        return;
    const RunMarks::Entry &e = marks->entries()[entry];
    if (!e.isMark() || e.deleted)
        return;
    QCustomPlot *c = feeder->chart(chart);
    const QRect area = c->axisRect()->rect();
    QRectF label = layers[size_t(chart)]->labelRect(entry);
    if (label.isEmpty()) // no label drawn: at the line's top
        label = QRectF(c->xAxis->coordToPixel(e.event.time), area.top(), 0, 0);

    auto *edit = new QLineEdit(c);
    edit->setObjectName(QStringLiteral("markNoteEditor"));
    edit->setMaxLength(RunMarks::MaxNoteLength);
    edit->setText(e.event.note);
    edit->selectAll();
    const QSize size(std::max(MinEditorWidth, int(label.width())), edit->sizeHint().height());
    QRect place(label.topLeft().toPoint(), size);
    place.moveRight(std::min(place.right(), c->width() - 1));
    place.moveLeft(std::max(place.left(), 0));
    edit->setGeometry(place);
    edit->installEventFilter(this);
    openEditor = edit;
    editedMark = e.event.markNumber;
    connect(edit, &QLineEdit::editingFinished, this, [this] { closeEditor(true); });
    edit->show();
    edit->setFocus(Qt::OtherFocusReason);
}

void ChartMarksView::closeEditor(bool keep)
{
    QLineEdit *edit = openEditor.data();
    if (!edit)
        return;
    openEditor = nullptr;
    // Hiding takes the focus away, which would finish the editing once more.
    edit->disconnect(this);
    edit->removeEventFilter(this);
    if (keep)
        marks->setNote(editedMark, edit->text());
    edit->hide();
    edit->deleteLater();
}
