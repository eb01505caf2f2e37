#pragma once
// The three session commands behind the main window's buttons.

class QWidget;

namespace bilmeko {

class MemTable;
class SessionBoard;

// "Новый": the client dialog, then a new session in front of the current row.
void newSessionCommand(QWidget *parent, SessionBoard &board, MemTable &prices);
// "Продлить": the client dialog in extend mode for the current session.
void extendSessionCommand(QWidget *parent, SessionBoard &board);
// "Стоп": asks, then ends the current session with the status "Стоп".
void stopSessionCommand(QWidget *parent, SessionBoard &board);

} // namespace bilmeko
