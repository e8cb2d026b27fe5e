// Input languages from Qt: ids of common locales, Russian names, and a list
// that always carries a Latin layout.
#include <QtTest>

#include "core/keyboard.h"
#include "core/textutil.h"
#include "gui/common/qtkeyboardlayouts.h"

using namespace lentar;
using namespace lentar::gui;

class KeyboardLayoutsTest : public QObject {
  Q_OBJECT

 private slots:
  void localesMapToWindowsLanguageIds() {
    QCOMPARE(LanguageIdOf(QLocale(QLocale::Russian, QLocale::Russia)).value(), uint16_t{0x0419});
    QCOMPARE(LanguageIdOf(QLocale(QLocale::English, QLocale::UnitedStates)).value(), uint16_t{0x0409});
    QCOMPARE(LanguageIdOf(QLocale(QLocale::English, QLocale::UnitedKingdom)).value(), uint16_t{0x0809});
    QCOMPARE(LanguageIdOf(QLocale(QLocale::Ukrainian)).value(), uint16_t{0x0422});
    QVERIFY(!LanguageIdOf(QLocale(QLocale::Zulu)).has_value());
  }

  void listHasNamedEntriesAndALatinLayout() {
    QtKeyboardLayoutSource source;
    const std::vector<KeyboardLayout> list = KeyboardLayoutList(source);
    QVERIFY(!list.empty());
    bool english = false;
    for (const KeyboardLayout& l : list) {
      QVERIFY(!l.languageName.empty());
      english = english || l.languageId == 0x0409;
    }
    QVERIFY(english);
    QCOMPARE(LanguageName(source, 0x0419), Utf8ToCp1251(u8"Русский"));
    // A language Qt knows but the Russian table does not: Qt's name.
    QVERIFY(!LanguageName(source, 0x0440).empty());
    // An id nobody knows: its eight hex digits.
    QCOMPARE(LanguageName(source, 0x7777), std::string("00007777"));
  }
};

QTEST_MAIN(KeyboardLayoutsTest)
#include "test_keyboardlayouts.moc"
