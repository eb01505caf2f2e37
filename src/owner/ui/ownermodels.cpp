#include "ownermodels.h"

#include "common/core/formats.h"

#include <QBrush>
#include <QColor>
#include <QFont>

namespace bilmeko {

namespace {

QColor lightColor(Light l)
{
    switch (l) {
    case Light::Green: return QColor(0x2e, 0x9d, 0x3a);
    case Light::Yellow: return QColor(0xe0, 0xa8, 0x00);
    case Light::Red: return QColor(0xc8, 0x1e, 0x1e);
    }
    return {};
}

QString instant(const QDateTime &t)
{
    return t.isValid()
        ? Formats::current().dateText(t.date()) + QLatin1Char(' ') + Formats::current().timeText(t.time())
        : QStringLiteral("-");
}

} // namespace

DeskModel::DeskModel(const OwnerBoard &board, QObject *parent) : QAbstractTableModel(parent), m_board(board)
{
}

int DeskModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int DeskModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString DeskModel::deskAt(int row) const
{
    return row >= 0 && row < m_board.desks().size() ? m_board.desks()[row].live.desk : QString();
}

void DeskModel::refresh()
{
    const int rows = int(m_board.desks().size()) + (m_board.hasReading() ? 1 : 0);
    m_totals = m_board.totals();
    if (rows != m_rows) {
        beginResetModel();
        m_rows = rows;
        endResetModel();
    } else if (rows > 0) {
        emit dataChanged(index(0, 0), index(rows - 1, ColumnCount - 1));
    }
}

QVariant DeskModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows)
        return {};
    const bool totals = index.row() == m_board.desks().size();
    const DeskRow &r = totals ? m_totals : m_board.desks()[index.row()];
    const bool alert = r.offlineAlert || r.reversalAlert;
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case Desk: return alert ? QStringLiteral("! ") + r.live.desk : r.live.desk;
        case Link: return r.lightText;
        case Running: return r.runningCount;
        case Due: return Formats::current().currency(r.runningAmount);
        case Sessions: return r.live.todaySessions;
        case Takings: return Formats::current().currency(r.live.todayTakings);
        case Reversals: return r.live.todayReversals;
        case LastRecord: return instant(r.live.lastRecord);
        }
        break;
    case Qt::DecorationRole:
        if (index.column() == Link && !totals)
            return lightColor(r.light);
        break;
    case Qt::TextAlignmentRole:
        if (index.column() >= Running && index.column() <= Reversals)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        break;
    case Qt::FontRole:
        if (totals) {
            QFont f;
            f.setBold(true);
            return f;
        }
        break;
    case Qt::BackgroundRole:
        if (alert)
            return QBrush(QColor(0xff, 0xe4, 0xe1));
        break;
    case Qt::ToolTipRole: {
        QStringList tip;
        if (r.offlineAlert)
            tip << r.lightText;
        if (r.reversalAlert)
            tip << QStringLiteral("Отмен за сегодня: %1, больше допустимого (%2)")
                       .arg(r.live.todayReversals)
                       .arg(m_board.options().maxReversals);
        if (!totals && r.live.openShift > 0)
            tip << (r.live.shiftOperator.isEmpty()
                        ? QStringLiteral("Смена %1 открыта").arg(r.live.openShift)
                        : QStringLiteral("Смена %1: %2").arg(r.live.openShift).arg(r.live.shiftOperator));
        if (!totals && !r.live.version.isEmpty())
            tip << QStringLiteral("Версия программы: %1").arg(r.live.version);
        if (!totals)
            tip << (r.live.connected ? QStringLiteral("Соединение с общей книгой открыто")
                                     : QStringLiteral("Соединения с общей книгой сейчас нет (стойка без дела "
                                                      "подключается на миг раз в 30 секунд)"));
        return tip.join(QLatin1Char('\n'));
    }
    default: break;
    }
    return {};
}

QVariant DeskModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char *const titles[] = {"Стойка",          "Связь",           "Идут",          "К оплате",
                                         "Сеансов сегодня", "Выручка сегодня", "Отмен сегодня", "Последняя запись"};
    return section >= 0 && section < ColumnCount ? QString::fromUtf8(titles[section]) : QVariant();
}

SessionModel::SessionModel(const OwnerBoard &board, QObject *parent) : QAbstractTableModel(parent), m_board(board)
{
}

int SessionModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int SessionModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

void SessionModel::refresh()
{
    const int rows = int(m_board.sessions().size());
    if (rows != m_rows) {
        beginResetModel();
        m_rows = rows;
        endResetModel();
    } else if (rows > 0) {
        // A tick changes the time left and the amount; a reading may
        // change any cell of a desk's rows.
        emit dataChanged(index(0, 0), index(rows - 1, ColumnCount - 1));
    }
}

QVariant SessionModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows || index.row() >= m_board.sessions().size())
        return {};
    const SessionRow &s = m_board.sessions()[index.row()];
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case Desk: return s.desk;
        case Client: return s.client;
        case Service: return s.service;
        case Start: return Formats::current().timeText(s.start.time());
        case Left: return s.paused ? QStringLiteral("пауза") : leftText(s.leftMs);
        case Amount: return Formats::current().currency(s.amount);
        }
        break;
    case Qt::TextAlignmentRole:
        if (index.column() >= Left)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        break;
    case Qt::FontRole:
        if (s.paused) {
            QFont f;
            f.setItalic(true);
            return f;
        }
        break;
    case Qt::ToolTipRole:
        if (index.column() == Start)
            return Formats::current().dateText(s.start.date());
        break;
    default: break;
    }
    return {};
}

QVariant SessionModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char *const titles[] = {"Стойка", "Клиент", "Услуга", "Начало", "Осталось", "Сумма"};
    return section >= 0 && section < ColumnCount ? QString::fromUtf8(titles[section]) : QVariant();
}

} // namespace bilmeko
