#include "gui/common/qttranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace lentar::gui {

bool InstallQtTranslations(QCoreApplication& app) {
  const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  const QLocale russian(QLocale::Russian, QLocale::Russia);
  auto* base = new QTranslator(&app);
  if (!base->load(russian, QStringLiteral("qtbase"), QStringLiteral("_"), folder)) {
    delete base;
    return false;
  }
  QCoreApplication::installTranslator(base);
  // Qt's own formatting follows the default locale: file sizes, dates
  // and the names of file types in the file dialogs. The keyboard layouts keep
  // asking the system's locale.
  QLocale::setDefault(russian);
  auto* serial = new QTranslator(&app);
  if (serial->load(russian, QStringLiteral("qtserialport"), QStringLiteral("_"), folder)) {
    QCoreApplication::installTranslator(serial);
  } else {
    delete serial;
  }
  return true;
}

}  // namespace lentar::gui
