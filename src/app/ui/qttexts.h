#pragma once

class QCoreApplication;

namespace bilmeko {

// Qt's own texts (file and print dialogs, standard buttons, a field's edit
// menu) in Russian, as the program's own are, whatever the system's
// language. False when the translation is not installed: they stay English.
bool installQtTexts(QCoreApplication *app);

} // namespace bilmeko
