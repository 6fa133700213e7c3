// SPDX-License-Identifier: GPL-3.0-or-later
#include "acquisition/marks/marksdialog.h"

#include "charts/chartmarks.h"
#include "data/csvnumber.h"
#include "data/runmarks.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

MarksTableModel::MarksTableModel(RunMarks *marks, QObject *parent) : QAbstractTableModel(parent), marks(marks)
{
    for (int i = 0; i < marks->entries().size(); ++i) {
        if (!marks->entries()[i].deleted)
            rows.append(i);
    }
    connect(marks, &RunMarks::added, this, [this](int entry) {
        beginInsertRows(QModelIndex(), rows.size(), rows.size());
        rows.append(entry);
        endInsertRows();
    });
    connect(marks, &RunMarks::noteChanged, this, [this](int entry) {
        const int row = rows.indexOf(entry);
        if (row >= 0)
            emit dataChanged(index(row, NoteColumn), index(row, NoteColumn));
    });
    connect(marks, &RunMarks::markDeleted, this, [this](int entry) {
        const int row = rows.indexOf(entry);
        if (row < 0)
            return;
        beginRemoveRows(QModelIndex(), row, row);
        rows.remove(row);
        endRemoveRows();
    });
    connect(marks, &RunMarks::cleared, this, [this] {
        beginResetModel();
        rows.clear();
        endResetModel();
    });
}

int MarksTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : rows.size();
}

int MarksTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant MarksTableModel::data(const QModelIndex &index, int role) const
{
    const int entry = entryOf(index.row());
    if (entry < 0)
        return QVariant();
    const RunMarks::Entry &e = marks->entries()[entry];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        if (index.column() == TimeColumn)
            return shownNumber(e.event.time, 3);
        if (index.column() == KindColumn)
            return runEventTitle(e.event.kind);
        return e.event.note;
    case Qt::ToolTipRole:
        return index.column() == NoteColumn ? QVariant(e.event.note) : QVariant();
    case Qt::ForegroundRole:
        return e.isMark() ? ChartMarks::operatorColour() : ChartMarks::programColour();
    case Qt::TextAlignmentRole:
        return index.column() == TimeColumn ? QVariant(int(Qt::AlignRight | Qt::AlignVCenter)) : QVariant();
    default:
        return QVariant();
    }
}

QVariant MarksTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case TimeColumn:
        return tr("Time (s)");
    case KindColumn:
        return tr("Kind");
    default:
        return tr("Note");
    }
}

Qt::ItemFlags MarksTableModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    const int entry = entryOf(index.row());
    if (entry >= 0 && index.column() == NoteColumn && marks->entries()[entry].isMark())
        f |= Qt::ItemIsEditable;
    return f;
}

bool MarksTableModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    const int entry = entryOf(index.row());
    if (role != Qt::EditRole || entry < 0 || index.column() != NoteColumn ||
        !marks->entries()[entry].isMark())
        return false;
    return marks->setNote(marks->entries()[entry].event.markNumber, value.toString());
}

MarksDialog::MarksDialog(RunMarks *marks, QWidget *parent)
    : QDialog(parent), marks(marks), model(new MarksTableModel(marks, this)), view(new QTableView(this))
{
    setObjectName(QStringLiteral("marksDialog"));
    setWindowTitle(tr("Marks"));
    setModal(false);
    view->setObjectName(QStringLiteral("marksTable"));
    view->setModel(model);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                          QAbstractItemView::SelectedClicked);
    view->verticalHeader()->hide();
    view->horizontalHeader()->setStretchLastSection(true);
    view->horizontalHeader()->setSectionResizeMode(MarksTableModel::KindColumn,
                                                   QHeaderView::ResizeToContents);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    remove = buttons->addButton(tr("Delete"), QDialogButtonBox::ActionRole);
    remove->setObjectName(QStringLiteral("deleteMarkButton"));
    remove->setEnabled(false);
    connect(remove, &QPushButton::clicked, this, &MarksDialog::deleteSelected);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    auto *deleteKey = new QAction(this);
    deleteKey->setShortcut(QKeySequence::Delete);
    deleteKey->setShortcutContext(Qt::WidgetShortcut);
    connect(deleteKey, &QAction::triggered, this, &MarksDialog::deleteSelected);
    view->addAction(deleteKey);
    connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &MarksDialog::selectionChanged);
    connect(model, &QAbstractItemModel::modelReset, this, &MarksDialog::selectionChanged);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(view);
    layout->addWidget(buttons);
    resize(560, 320);
}

void MarksDialog::selectionChanged()
{
    const QModelIndexList selected = view->selectionModel()->selectedRows();
    remove->setEnabled(std::any_of(selected.begin(), selected.end(), [this](const QModelIndex &i) {
        const int entry = model->entryOf(i.row());
        return entry >= 0 && marks->entries()[entry].isMark();
    }));
}

void MarksDialog::deleteSelected()
{
    // By number, as rows go away one by one.
    QVector<int> numbers;
    for (const QModelIndex &i : view->selectionModel()->selectedRows()) {
        const int entry = model->entryOf(i.row());
        if (entry >= 0 && marks->entries()[entry].isMark())
            numbers.append(marks->entries()[entry].event.markNumber);
    }
    for (int number : qAsConst(numbers))
        marks->deleteMark(number);
}
