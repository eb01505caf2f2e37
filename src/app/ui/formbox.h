#pragma once
// The time-is-up notice: a window of its own for each ended session, not
// modal, freed when closed however it is closed. It stays above the
// program's other windows and is never blocked by a modal dialog: its OK
// works while the client dialog or a question is open. It never takes the
// keyboard when it appears: what the operator is typing keeps going where
// it went. The operator reaches it with a click or with the notice key.

#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <cstdint>

class QLabel;
class QPushButton;

namespace bilmeko {

struct Notice;

class TFormbox : public QDialog
{
    Q_OBJECT
public:
    // Brings the newest notice to the keyboard, also over a modal dialog.
    static constexpr Qt::Key ReachKey = Qt::Key_F9;

    explicit TFormbox(QWidget *parent = nullptr);

    // The session's notice with the texts filled in, shown without waiting
    // and without taking the focus: a new one centred on the desktop, or
    // the one already open for that session brought up to date.
    static TFormbox *showNotice(const Notice &notice);
    // The notice shown last of those still open, or null.
    static TFormbox *newest();
    // Makes the newest notice the active window, its OK focused; false when
    // there is none.
    static bool reachNewest();
    // Lets ReachKey work in every window of the program while the owner
    // lives.
    static void installReachKey(QObject *owner);

    void setCustomer(const QString &name);
    void setStat(const QString &text);
    std::uint64_t sessionId() const { return m_sessionId; }

    // Handlers.
    void BitBtn1Click();
    void FormClose();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool event(QEvent *event) override;

private:
    // Makes the notice a transient of the topmost modal window that is not
    // an error box; that window then no longer blocks it, and the window
    // manager keeps the notice above it. Error boxes stay above notices.
    void joinModalWindow();
    // An open error box goes back above the notices.
    static void raiseErrorBox();

private:
    QLabel *Label1;
    QLabel *Customer;
    QLabel *Stat;
    QPushButton *BitBtn1;
    std::uint64_t m_sessionId = 0;
    // The window the operator was in when the notice came, and since when
    // it is shown: a window system that activates new windows anyway gets
    // the activation handed back at once.
    QPointer<QWidget> m_returnTo;
    QElapsedTimer m_shown;
    bool m_reached = false;
    // Order of showing, for newest().
    quint64 m_shownAt = 0;
};

} // namespace bilmeko
