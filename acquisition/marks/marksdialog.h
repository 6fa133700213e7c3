// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "charts/runtimetext.h"

#include <QAbstractTableModel>
#include <QDialog>
#include <QVector>

#include <functional>

class QPushButton;
class QTableView;
class RunMarks;

// A run's marks and events as a table (time, kind, note), kept up to date as the run goes on:
// rows come and go one by one, so a note being edited is not disturbed by a new event. Operator
// marks' notes are editable; program events are not.
class MarksTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column
    {
        TimeColumn,
        KindColumn,
        NoteColumn,
        ColumnCount
    };

    explicit MarksTableModel(RunMarks *marks, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

    // How the times are written (default: in seconds); the column follows the style's changes.
    void setTimeFormat(std::function<RunTimeFormat()> format);
    // The entry (of RunMarks::entries()) a row shows.
    int entryOf(int row) const { return rows.value(row, -1); }

private:
    void restyle();

    RunMarks *marks;
    QVector<int> rows; // row -> entry; deleted marks have none
    std::function<RunTimeFormat()> timeFormat = [] { return RunTimeFormat(); };
};

// The marks window: the table, "Delete" for the selected operator marks and "Close". Not modal:
// the run and the charts go on while it is open.
class MarksDialog : public QDialog
{
    Q_OBJECT

public:
    MarksDialog(RunMarks *marks, QWidget *parent);

    void setTimeFormat(std::function<RunTimeFormat()> format) { model->setTimeFormat(std::move(format)); }

    QTableView *table() const { return view; }
    QPushButton *deleteButton() const { return remove; }
    // Deletes the operator marks among the selected rows.
    void deleteSelected();

private:
    void selectionChanged();

    RunMarks *marks;
    MarksTableModel *model;
    QTableView *view;
    QPushButton *remove;
};
