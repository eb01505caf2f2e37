#pragma once
// The three session commands behind the main window's buttons.

#include "journal/core/logrecord.h"

class QWidget;

namespace bilmeko {

class MemTable;
class SessionBoard;

// "Новый": the client dialog, then a new session in front of the current row;
// its "Оплата" starts at `payment`. With abonements on sale the dialog
// offers "По абонементу": the client's balance in the journal must then
// cover the booked minutes.
void newSessionCommand(QWidget *parent, SessionBoard &board, MemTable &prices, Payment payment = Payment::Cash,
                       bool abonements = false);
// "Продлить": the client dialog in extend mode for the current session; its
// payment method can be changed there too.
void extendSessionCommand(QWidget *parent, SessionBoard &board);
// "Стоп": asks (the payment method can be changed in the question), then
// ends the current session with the status "Стоп".
void stopSessionCommand(QWidget *parent, SessionBoard &board);

} // namespace bilmeko
