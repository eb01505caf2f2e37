#pragma once
// The board's two grids as models over OwnerBoard's rows: the desks (a row
// each and the totals row last) and every running session of every desk.
// The rows are the board's; the models only say how a cell looks.

#include "ledger/core/ownerboard.h"

#include <QAbstractTableModel>

namespace bilmeko {

class DeskModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { Desk, Link, Running, Due, Sessions, Takings, Reversals, LastRecord, ColumnCount };
    explicit DeskModel(const OwnerBoard &board, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The board changed: rows came or went, or only their figures.
    void refresh();
    // The desk of a row; empty for the totals row.
    QString deskAt(int row) const;

private:
    const OwnerBoard &m_board;
    DeskRow m_totals;
    int m_rows = 0;
};

class SessionModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { Desk, Client, Service, Start, Left, Amount, ColumnCount };
    explicit SessionModel(const OwnerBoard &board, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void refresh();

private:
    const OwnerBoard &m_board;
    int m_rows = 0;
};

} // namespace bilmeko
