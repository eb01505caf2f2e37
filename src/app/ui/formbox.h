#pragma once
// The time-is-up notice: a window of its own for each ended session, not
// modal, freed when closed however it is closed. It stays above the
// program's other windows and is never blocked by a modal dialog: its OK
// works while the client dialog or a question is open.

#include <QDialog>

class QLabel;
class QPushButton;

namespace bilmeko {

struct Notice;

class TFormbox : public QDialog
{
    Q_OBJECT
public:
    explicit TFormbox(QWidget *parent = nullptr);

    // A new notice with the texts filled in, centred on the desktop and
    // shown without waiting.
    static TFormbox *showNotice(const Notice &notice);

    void setCustomer(const QString &name);
    void setStat(const QString &text);

    // Handlers.
    void BitBtn1Click();
    void FormClose();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool event(QEvent *event) override;

private:
    // Makes the notice a transient of the topmost modal window, which then
    // no longer blocks it; the window manager keeps it above that window.
    void joinModalWindow();

private:
    QLabel *Label1;
    QLabel *Customer;
    QLabel *Stat;
    QPushButton *BitBtn1;
};

} // namespace bilmeko
