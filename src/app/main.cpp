// lentar: the board editor.
#include <QApplication>
#include <memory>
#include <string>

#include "app/termination.h"
#include "comm/comport.h"
#include "core/paths.h"
#include "core/project.h"
#include "gui/common/editorfont.h"
#include "gui/common/qttranslations.h"
#include "gui/editor/mainlentarform.h"
#include "markup/fonts.h"

int main(int argc, char** argv) {
  // The program's folder comes first: every %PROGPATH% path hangs off it, and
  // it decides where the settings file, "Langs" and "Fonts" are (beside the
  // program, or in the operator's own folders when it is installed).
  lentar::InitProgramFolder(argc > 0 ? argv[0] : "");
  const std::string settingsPath = lentar::SettingsFilePath();
  lentar::EnsureFolder(lentar::LangsFolder());
  lentar::EnsureFolder(lentar::FontsFolder());

  QApplication app(argc, argv);
  // Declared after the application and before the windows: the windows go
  // first, then the ports' receive threads end, then the application.
  const lentar::comm::ProcessPortsRelease portsRelease;
  // Qt's own buttons, file dialogs and context menus in the program's
  // language; without the catalogues they stay English.
  lentar::gui::InstallQtTranslations(app);
  lentar::gui::EditorFont();  // the shared editor font exists from here on
  lentar::TRecProject project(std::make_unique<lentar::TTabFontList>());
  QApplication::setApplicationName(QStringLiteral("Lentar - бегущая строка"));

  // The first argument is a set file path; paths are Windows-1251 texts
  // inside the program, like everything else it shows or stores.
  std::string firstArgument = argc > 1 ? lentar::FromNativeArgument(argv[1]) : "";
  lentar::gui::TMainLentarForm mainForm(project, firstArgument);
  mainForm.show();
  lentar::app::CloseOnTerminationSignals(&mainForm);
  const int status = app.exec();
  // Closing the last window ends the event loop with the window already
  // hidden, so the settings have been written.
  return status;
}
