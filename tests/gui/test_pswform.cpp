// The password pad "Пароли": slot labels, ChoosePassword with a slot or with
// "Другой" (typed, confirmed, too long), and ChoosePasswordSlot.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <functional>

#include "core/textutil.h"
#include "gui/common/messages.h"
#include "gui/control/pswform.h"
#include "support/gui_test_support.h"

using namespace lentar;
using namespace lentar::gui;
using namespace lentar::gui::testing;

namespace {

void ClickOnModal(const QString& name) {
  WhenModal([name](QWidget* dialog) {
    auto* button = dialog->findChild<QPushButton*>(name);
    QVERIFY2(button, qPrintable(name));
    button->click();
  });
}

// The pad, then the input dialog with the given texts, then OK.
void TypeOther(const QStringList& texts) {
  WhenModal([texts](QWidget* pad) {
    QTimer::singleShot(0, [texts] {
      QWidget* input = QApplication::activeModalWidget();
      QVERIFY(input);
      for (int i = 0; i < texts.size(); ++i) {
        auto* edit = input->findChild<QLineEdit*>(QStringLiteral("Edit%1").arg(i + 1));
        QVERIFY(edit);
        edit->setText(texts[i]);
      }
      QVERIFY(!input->findChild<QLineEdit*>(QStringLiteral("Edit%1").arg(texts.size() + 1)));
      input->findChild<QPushButton*>(QStringLiteral("okButton"))->click();
    });
    pad->findChild<QPushButton*>(QStringLiteral("Button10"))->click();
  });
}

std::array<std::string, 8> Stored() {
  return {"alpha", "", "123456789", "12345678", "b", "", "", Utf8ToCp1251(u8"пароль")};
}

}  // namespace

class PswFormTest : public QObject {
  Q_OBJECT

 private slots:
  void slotLabelsTellActiveFromEmpty() {
    TPswForm form(Stored(), QString(), QString(), QStringLiteral("Закрыть"));
    form.show();
    QCOMPARE(form.windowTitle(), QStringLiteral("Пароли"));
    QCOMPARE(form.findChild<QLabel*>(QStringLiteral("Label2"))->text(),
             QStringLiteral("Нажмите кнопку для смены пароля"));
    const char* expected[8] = {"Активен", "Пустой", "Пустой", "Активен",
                               "Активен", "Пустой", "Пустой", "Активен"};
    for (int i = 0; i < 8; ++i) {
      auto* label = form.findChild<QLabel*>(QStringLiteral("StateLabel%1").arg(i + 1));
      QCOMPARE(label->text(), QString::fromUtf8(expected[i]));
      QCOMPARE(form.findChild<QPushButton*>(QStringLiteral("Button%1").arg(i + 1))->text(),
               QString::number(i + 1));
    }
    QVERIFY(!form.findChild<QPushButton*>(QStringLiteral("Button10"))->isVisible());
  }

  void choosePasswordFromASlot() {
    struct Case {
      const char* button;
      std::string password;
    };
    const Case cases[] = {{"Button1", "alpha"},
                          {"Button2", ""},
                          {"Button3", ""},  // nine characters: shown and sent as empty
                          {"Button4", "12345678"},
                          {"Button8", Utf8ToCp1251(u8"пароль")}};
    for (const Case& c : cases) {
      std::string password = "unchanged";
      QString prompt;
      QString closeCaption;
      QString extraCaption;
      WhenModal([&](QWidget* pad) {
        prompt = pad->findChild<QLabel*>(QStringLiteral("Label2"))->text();
        closeCaption = pad->findChild<QPushButton*>(QStringLiteral("Button9"))->text();
        auto* extra = pad->findChild<QPushButton*>(QStringLiteral("Button10"));
        extraCaption = extra->isVisible() ? extra->text() : QString();
        pad->findChild<QPushButton*>(QString::fromLatin1(c.button))->click();
      });
      QVERIFY(ChoosePassword(nullptr, Stored(), QStringLiteral("Выберите пароль"),
                             QStringLiteral("Пароль табло"), password, true));
      QCOMPARE(password, c.password);
      QCOMPARE(prompt, QStringLiteral("Выберите пароль"));
      QCOMPARE(closeCaption, QStringLiteral("Отмена"));
      QCOMPARE(extraCaption, QStringLiteral("Другой"));
    }
  }

  void choosePasswordCancelled() {
    std::string password = "unchanged";
    ClickOnModal(QStringLiteral("Button9"));
    QVERIFY(!ChoosePassword(nullptr, Stored(), QString(), QStringLiteral("t"), password, false));
    QCOMPARE(password, "unchanged");
  }

  void choosePasswordTyped() {
    struct Case {
      bool confirm;
      QStringList typed;
      bool accepted;
      std::string password;
      QString message;
    };
    const Case cases[] = {
        {true, {"12345678", "12345678"}, true, "12345678", {}},
        {true, {QStringLiteral("ключ"), QStringLiteral("ключ")}, true, Utf8ToCp1251(u8"ключ"), {}},
        {true, {"abc", "abd"}, false, "unchanged",
         QStringLiteral("Пароль и подтверждение не совпадают")},
        {true, {"123456789", "123456789"}, false, "unchanged",
         QStringLiteral("Слишком длинный пароль")},
        {false, {QStringLiteral("пароль12")}, true, Utf8ToCp1251(u8"пароль12"), {}},
        {false, {QStringLiteral("пароль123")}, false, "unchanged",
         QStringLiteral("Слишком длинный пароль")},
        {false, {""}, true, "", {}},
    };
    for (const Case& c : cases) {
      MessageCapture capture;
      std::string password = "unchanged";
      TypeOther(c.typed);
      QCOMPARE(ChoosePassword(nullptr, Stored(), QString(), QStringLiteral("Пароль табло"),
                              password, c.confirm),
               c.accepted);
      QCOMPARE(password, c.password);
      if (c.message.isEmpty()) {
        QVERIFY(capture.Messages().empty());
      } else {
        QCOMPARE(capture.Messages().size(), size_t(1));
        QCOMPARE(capture.Messages()[0].caption, QStringLiteral("Ошибка"));
        QCOMPARE(capture.Messages()[0].text, c.message);
        QCOMPARE(capture.Messages()[0].icon, QMessageBox::Critical);
      }
    }
  }

  void choosePasswordTypedCancelled() {
    std::string password = "unchanged";
    WhenModal([](QWidget* pad) {
      QTimer::singleShot(0, [] {
        QApplication::activeModalWidget()->findChild<QPushButton*>(QStringLiteral("cancelButton"))->click();
      });
      pad->findChild<QPushButton*>(QStringLiteral("Button10"))->click();
    });
    QVERIFY(!ChoosePassword(nullptr, Stored(), QString(), QStringLiteral("t"), password, true));
    QCOMPARE(password, "unchanged");
  }

  void choosePasswordSlot() {
    struct Case {
      QString extra;
      QString click;
      int result;
    };
    const Case cases[] = {{QStringLiteral("В загрузчик"), QStringLiteral("Button5"), 5},
                          {QStringLiteral("В загрузчик"), QStringLiteral("Button10"), -1},
                          {QString(), QStringLiteral("Button8"), 8},
                          {QString(), QStringLiteral("Button9"), 0}};
    for (const Case& c : cases) {
      bool extraVisible = false;
      QString extraText;
      QString closeText;
      QString prompt;
      WhenModal([&](QWidget* pad) {
        auto* extra = pad->findChild<QPushButton*>(QStringLiteral("Button10"));
        extraVisible = extra->isVisible();
        extraText = extra->text();
        closeText = pad->findChild<QPushButton*>(QStringLiteral("Button9"))->text();
        prompt = pad->findChild<QLabel*>(QStringLiteral("Label2"))->text();
        pad->findChild<QPushButton*>(c.click)->click();
      });
      QCOMPARE(ChoosePasswordSlot(nullptr, Stored(), QStringLiteral("Номер изменяемого пароля?"),
                                  c.extra),
               c.result);
      QCOMPARE(extraVisible, !c.extra.isEmpty());
      if (extraVisible) QCOMPARE(extraText, c.extra);
      QCOMPARE(closeText, QStringLiteral("Закрыть"));
      QCOMPARE(prompt, QStringLiteral("Номер изменяемого пароля?"));
    }
  }
};

QTEST_MAIN(PswFormTest)
#include "test_pswform.moc"
