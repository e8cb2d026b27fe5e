// lentar: the board editor.
#include <QApplication>
#include <QCommandLineParser>
#include <QSessionManager>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "app/termination.h"
#include "core/paths.h"
#include "gui/common/editorfont.h"
#include "gui/common/qttranslations.h"
#include "gui/editor/mainlentarform.h"
#include "markup/fonts.h"
#include "markup/project.h"

namespace {

// The editor's command line: an optional set file, --help and --version.
void DescribeOptions(QCommandLineParser& options) {
  QCoreApplication::setApplicationName(QStringLiteral("lentar"));
  QCoreApplication::setApplicationVersion(QStringLiteral(LENTAR_VERSION));
  options.setApplicationDescription(
      QStringLiteral("Редактор и загрузчик табло бегущей строки: набор сообщений, просмотр на "
                     "эмуляции табло, загрузка в табло, загрузчик, файл .bin или пакет GPRS."));
  options.addHelpOption();
  options.addVersionOption();
  options.addPositionalArgument(QStringLiteral("набор"),
                                QStringLiteral("Файл набора, открываемый при запуске."),
                                QStringLiteral("[набор]"));
}

// --help and --version answer without a display: they are asked in scripts
// and by packaging tools on machines that have none.
void AnswerInformationOptions(int argc, char** argv) {
  bool asked = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    asked = asked || a == "-h" || a == "--help" || a == "--help-all" || a == "-v" ||
            a == "--version";
  }
  if (!asked) return;
  QCoreApplication info(argc, argv);
  lentar::gui::InstallQtTranslations(info);
  QCommandLineParser options;
  DescribeOptions(options);
  options.process(info);  // prints and ends the program
}

}  // namespace

// The main window while its event loop runs, for the exit hook.
static lentar::gui::TMainLentarForm* liveForm = nullptr;

int main(int argc, char** argv) {
  AnswerInformationOptions(argc, argv);
  // The program's folder comes first: every %PROGPATH% path hangs off it, and
  // it decides where the settings file, "Langs" and "Fonts" are (beside the
  // program, or in the operator's own folders when it is installed).
  lentar::InitProgramFolder(argc > 0 ? argv[0] : "");
  const std::string settingsPath = lentar::SettingsFilePath();
  lentar::EnsureFolder(lentar::LangsFolder());
  lentar::EnsureFolder(lentar::FontsFolder());

  QApplication app(argc, argv);
  // Qt's own buttons, file dialogs and context menus in the program's
  // language; without the catalogues they stay English.
  lentar::gui::InstallQtTranslations(app);
  QCommandLineParser options;
  DescribeOptions(options);
  options.process(app);
  lentar::gui::EditorFont();  // the shared editor font exists from here on
  lentar::TRecProject project;
  QApplication::setApplicationName(QStringLiteral("Lentar - бегущая строка"));

  // The first argument is a set file path; paths are Windows-1251 texts
  // inside the program, like everything else it shows or stores.
  const QStringList sets = options.positionalArguments();
  std::string firstArgument =
      sets.isEmpty() ? "" : lentar::FromNativeArgument(sets.front().toLocal8Bit().constData());
  lentar::gui::TMainLentarForm mainForm(project, firstArgument);
  // Set up before the window shows: its first show may already ask something
  // (a damaged settings file, a missing font archive).
  bool ended = false;
  lentar::app::EndOnTerminationSignals(&mainForm, [&mainForm, &ended] {
    ended = true;
    mainForm.EndFromOutside();
    // Every event loop ends, a dialog's and the emulation window's too. Work
    // on a device line may hold the window's thread a while longer: the
    // settings are written already, so after a few seconds the process ends
    // all the same.
    QCoreApplication::quit();
    std::thread([] {
      std::this_thread::sleep_for(std::chrono::seconds(4));
      std::_Exit(0);
    }).detach();
  });
  // A logout asks the programs to keep their work first; it may still be
  // cancelled, so the editor stays.
  QObject::connect(&app, &QGuiApplication::commitDataRequest, &mainForm,
                   [&mainForm](QSessionManager&) { mainForm.KeepWorkQuietly(); });
  // The display going away ends the program from inside Qt (exit()); the
  // work is kept on the way out.
  liveForm = &mainForm;
  mainForm.show();
  if (ended) {  // ended while the window was opening
    liveForm = nullptr;
    return 0;
  }
  std::atexit([] {
    if (liveForm) liveForm->KeepWorkQuietly();
  });
  const int status = app.exec();
  liveForm = nullptr;
  // Closing the last window ends the event loop with the window already
  // hidden, so the settings have been written.
  return status;
}
