#include "sessioncommands.h"

namespace bilmeko {

void newSessionCommand(QWidget *, SessionBoard &, MemTable &) {}
void extendSessionCommand(QWidget *, SessionBoard &) {}
void stopSessionCommand(QWidget *, SessionBoard &) {}

} // namespace bilmeko
