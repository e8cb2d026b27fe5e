// Qt's own texts in Russian: the buttons of message boxes, the file dialogs,
// the editors' context menus. The program speaks Russian whatever the
// system's language, so the Russian catalogues are loaded, not the locale's.
#pragma once

class QCoreApplication;

namespace lentar::gui {

// Loads Qt's Russian translations ("qtbase_ru" and "qtserialport_ru") from
// Qt's translations folder (QLibraryInfo::TranslationsPath), installs them in
// app and makes Russian Qt's default locale (QLocale::setDefault), which
// formats the sizes and dates of the file dialogs and names the file types.
// Returns false, changing nothing, when the base catalogue is missing (Qt
// then shows its English texts).
bool InstallQtTranslations(QCoreApplication& app);

}  // namespace lentar::gui
