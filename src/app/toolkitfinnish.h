#pragma once

class QCoreApplication;
class QTranslator;

// The program speaks Finnish whatever the user's locale, so Qt's own texts
// (dialog buttons, the folder chooser, the line edits' menus) must too: installs
// Qt's Finnish catalogue in `app`, which owns it. Null when it is not installed.
QTranslator *loadToolkitFinnish(QCoreApplication &app);
