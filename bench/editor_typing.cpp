// Cost of one keystroke in the main window on a large set: the character is
// inserted in the middle of the text, the line is highlighted again and the
// status bar's size counter compiles the whole set (it runs on the next turn
// of the event loop, which the benchmark lets happen). Sets of 16 KB and
// 64 KB, the latter the board's largest image, a third of it tags.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <memory>
#include <string>

#include "core/settings.h"
#include "gui/editor/mainlentarform.h"
#include "markup/fonts.h"
#include "markup/project.h"

namespace {

QApplication* App() {
  static int argc = 1;
  static char name[] = "bench-editor_typing";
  static char* argv[] = {name, nullptr};
  static std::unique_ptr<QApplication> app = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return std::make_unique<QApplication>(argc, argv);
  }();
  return app.get();
}

QString MakeSet(int bytes) {
  const QString line = QString::fromUtf8(
      "{[FCol:2]}Скидки до 50%{[Sp:12]}{[Pause:150]} на всё &#171;зимнее&#187;{[Spd:3]}\n");
  QString text;
  while (text.size() < bytes) text += line;
  text.truncate(bytes);
  return text;
}

void Keystroke(benchmark::State& state) {
  App();
  lentar::Settings().OutDataSize = 65535;
  lentar::TRecProject project;
  lentar::gui::TMainLentarForm form(project, std::string());
  auto* memo = form.findChild<QPlainTextEdit*>("Memo1");
  memo->setPlainText(MakeSet(static_cast<int>(state.range(0))));
  QCoreApplication::processEvents();
  QTextCursor cursor(memo->document());
  cursor.setPosition(static_cast<int>(state.range(0) / 2));
  for (auto _ : state) {
    cursor.insertText(QStringLiteral("a"));
    QCoreApplication::processEvents();
  }
}

}  // namespace

BENCHMARK(Keystroke)->Arg(16 * 1024)->Arg(64 * 1024)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
