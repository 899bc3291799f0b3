#pragma once
// Qt's own dialogs and buttons (the folder chooser, the message boxes) speak
// the program's language, Japanese, whatever the desktop's locale: their texts
// come from Qt's "qtbase" translation, which Debian ships in
// qt6-translations-l10n. Installed once on the application object, which owns
// the translator; GUI thread only. A missing translation leaves Qt's English.
class QCoreApplication;

namespace tarvik::QtTranslations {

// Installs the Japanese qtbase translator unless one already is; false when
// the translation cannot be loaded.
bool install(QCoreApplication& application);

}  // namespace tarvik::QtTranslations
