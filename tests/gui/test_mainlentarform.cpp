// The main window shell: settings read on first show, written on hide, the
// set file of the command line or of the last run opened, and the error boxes
// it gives, captured through the message service.
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QtTest>
#include <fstream>
#include <memory>
#include <sstream>

#include "core/paths.h"
#include "core/settings.h"
#include "core/textutil.h"
#include "gui/common/messages.h"
#include "gui/editor/mainlentarform.h"
#include "markup/fonts.h"
#include "markup/project.h"

using namespace lentar;
using namespace lentar::gui;

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

}  // namespace

class MainLentarFormTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    folder_ = FromNativePath(dir_->path().toStdString()) + "/";
    SetProgramFolder(folder_);
    EnsureFolder(FontsFolder());
    Settings() = TSettings{};
  }

  void readsSettingsOnShowAndWritesThemOnHide() {
    const std::string setPath = folder_ + "set.txt";
    const std::string setText = Utf8ToCp1251(u8"Привет, табло!\r\n{[Spd:3]}ещё");
    WriteAll(setPath, setText);
    WriteAll(SettingsFilePath(), "[Settings]\r\nMainCoor=40,50,640,450\r\nLastProject=" +
                                     setPath + "\r\nDispLen=abc\r\n");

    MessageCapture capture;
    TRecProject project;
    TMainLentarForm form(project, "");
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    QCOMPARE(Settings().DispLen, 8);  // unreadable, then clamped
    QCOMPARE(form.geometry(), QRect(40, 50, 600, 400));
    auto* memo = form.findChild<QPlainTextEdit*>("Memo1");
    QVERIFY(memo);
    QVERIFY(!memo->isReadOnly());
    QVERIFY(!form.Modified());
    QCOMPARE(memo->toPlainText(), QString::fromUtf8(u8"Привет, табло!\n{[Spd:3]}ещё"));
    QCOMPARE(form.windowTitle(), QString::fromStdString("Lentar - " + setPath + "[*]"));
    QCOMPARE(Settings().ProjHistory[0], setPath);
    // No archive is installed in this folder: the window still opens and says why.
    QCOMPARE(capture.Messages().size(), size_t{1});
    QCOMPARE(capture.Messages()[0].caption, QStringLiteral("Ошибка"));
    QVERIFY(capture.Messages()[0].text.startsWith(QStringLiteral("Ошибка чтения архива шрифтов ")));

    form.move(70, 80);
    form.hide();
    const std::string ini = ReadAll(SettingsFilePath());
    QVERIFY(ini.rfind("[Settings]\r\n", 0) == 0);
    QVERIFY(ini.find("\r\nDispLen=8\r\n") != std::string::npos);
    QVERIFY(ini.find("\r\nLastProject=%PROGPATH%/set.txt\r\n") != std::string::npos);
    TSettings back;
    ReadSettings(back, SettingsFilePath());
    QCOMPARE(back.MainCoor.left, form.geometry().left());
    QCOMPARE(back.LastProject, setPath);
  }

  void aSetFileThatCannotBeReadOnTheCommandLineShowsTheOpenError() {
    // A Cyrillic name, as the program holds paths: Windows-1251; and an
    // endless device, which is never read into memory whole.
    for (const std::string& path : {folder_ + Utf8ToCp1251(u8"нет.txt"), std::string("/dev/zero")}) {
      MessageCapture capture;
      TRecProject project;
      TMainLentarForm form(project, "  " + path + " ");
      form.show();
      QVERIFY(QTest::qWaitForWindowExposed(&form));

      bool openError = false;
      for (const CapturedMessage& m : capture.Messages()) {
        if (m.caption == QStringLiteral("Ошибка") &&
            m.text == QStringLiteral("Не могу открыть файл ") + FromBoardText(path)) {
          openError = true;
        }
      }
      QVERIFY2(openError, path.c_str());
      QCOMPARE(form.windowTitle(), QStringLiteral("Lentar - [*]"));
      QVERIFY(form.findChild<QPlainTextEdit*>("Memo1")->toPlainText().isEmpty());
    }
  }

  void messageServiceCapturesCaptionsAndAnswers() {
    MessageCapture capture;
    ShowInfo(std::string(Utf8ToCp1251(u8"Готово")));
    capture.QueueAnswer(QMessageBox::Cancel);
    QVERIFY(!AskOkCancel(QStringLiteral("Стереть?"), QStringLiteral("Внимание!"), false));
    QVERIFY(AskOkCancel(QStringLiteral("Стереть?"), QStringLiteral("Внимание!"), false));
    QVERIFY(!AskOkCancel(QStringLiteral("Стереть?"), QStringLiteral("Внимание!"), true));
    const auto answer = OwnedMessageBox(nullptr, QStringLiteral("Внимание!"), QStringLiteral("?"),
                                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                                        QMessageBox::Warning);
    QCOMPARE(answer, QMessageBox::Yes);

    const auto& m = capture.Messages();
    QCOMPARE(m.size(), size_t{5});
    QCOMPARE(m[0].caption, QStringLiteral("Информация"));
    QCOMPARE(m[0].text, QStringLiteral("Готово"));
    QCOMPARE(m[0].icon, QMessageBox::Information);
    QCOMPARE(m[1].icon, QMessageBox::Question);
    QCOMPARE(m[4].icon, QMessageBox::Warning);
  }

 private:
  std::unique_ptr<QTemporaryDir> dir_;
  std::string folder_;
};

QTEST_MAIN(MainLentarFormTest)
#include "test_mainlentarform.moc"
