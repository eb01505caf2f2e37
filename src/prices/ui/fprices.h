#pragma once
// The price editor "Цены": a grid over the price table, "Закрыть",
// "Сохранить по умолчанию" and the buttons that add and delete a service.
// Created per command and run modally; it frees itself when closed:
//
//     auto *f = new TFPrices(*TPrices, *SettingsIni, this);
//     f->exec();   // f is gone once exec() has returned and events ran
//
// Edits go into the table at once and stay for the run; only
// "Сохранить по умолчанию" writes the list to the settings file.

#include "prices/core/priceediting.h"
#include "prices/core/profilefile.h"

#include <QDialog>

class QPushButton;
class QTableView;

namespace bilmeko {

class MemTable;
class PricesGrid;

class TFPrices : public QDialog
{
    Q_OBJECT
public:
    TFPrices(MemTable &prices, const ProfileFile &settings, QWidget *parent = nullptr);
    ~TFPrices() override;

    // "Закрыть": posts a pending edit and closes. When the list differs from
    // what it was at the opening, asks first whether to save it (Yes saves
    // as BitBtn2Click does, No closes keeping the edits for the run, Cancel
    // stays in the editor).
    void BitBtn1Click();
    // "Сохранить по умолчанию": posts a pending edit, saves, closes. A failed
    // save shows its message and the dialog still closes; a price that is
    // not a number keeps the dialog open with the cell in editing.
    void BitBtn2Click();
    // "Добавить": a new empty row in front of the current one (as Insert),
    // its name cell open for typing.
    void BitBtn3Click();
    // "Удалить": deletes the current row after the question (as Ctrl+Delete).
    void BitBtn4Click();

protected:
    // Esc and the close box act as "Закрыть".
    void reject() override;

private:
    MemTable &m_prices;
    ProfileFile m_settings;
    PriceEditing m_editing;
    PricesGrid *DBGrid1;
    QPushButton *BitBtn1;
    QPushButton *BitBtn2;
    QPushButton *BitBtn3;
    QPushButton *BitBtn4;
};

} // namespace bilmeko
