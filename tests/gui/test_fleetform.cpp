// The fleet window "Парк табло", its log window and "Отправить в группу"
// against boards served by lentar-boardsim --count: the register changed
// through the edit dialog (its refusals shown exactly), the status sweep, a
// delivery of the open set to a group with one unreachable board, per-board
// progress while it runs, "Прервать", closing while work runs, and the log
// with its CSV export; the window following changes made by other
// connections (SQLite and PostgreSQL), its columns, the clocks after a sync,
// a stop on a bus, groups renamed and merged, an unsaved set in the log.
#include <QAction>
#include <QCryptographicHash>
#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QToolBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QToolButton>
#include <QTableWidget>
#include <QtTest>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "support/sim_process.h"
#include "core/folders.h"
#include "core/settings.h"
#include "core/textutil.h"
#include "fleet/register.h"
#include "gui/common/filedialogs.h"
#include "gui/common/messages.h"
#include "gui/fleet/boardeditform.h"
#include "gui/fleet/fleetform.h"
#include "gui/fleet/fleetlogform.h"
#include "gui/common/placement.h"
#include "gui/fleet/groupdeliveryform.h"
#include "gui/fleet/grouprenameform.h"
#include "support/gui_test_support.h"
#include "support/pg_server.h"

using namespace lentar;
using namespace lentar::gui;
using namespace lentar::gui::testing;
using lentar::comm::testing::SimProcess;
using lentar::comm::testing::TestFolder;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> LinesOf(const fs::path& portFile) {
  std::ifstream in(portFile);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

fleet::BoardRecord Board(const std::string& name, const std::string& line,
                         std::initializer_list<const char8_t*> groups) {
  fleet::BoardRecord b;
  b.name = name;
  b.line = line;
  for (const char8_t* g : groups) b.groups.push_back(Utf8ToCp1251(g));
  return b;
}

QString Cell(QTableWidget* table, int row, int column) {
  const QTableWidgetItem* item = table->item(row, column);
  return item ? item->text() : QString();
}

QStringList SelectedNames(QTableWidget* table) {
  QStringList names;
  for (const QModelIndex& index : table->selectionModel()->selectedRows())
    names << Cell(table, index.row(), TFleetForm::kName);
  names.sort();
  return names;
}

// The computer's clock moved by seconds, as a board's clock is compared with.
comm::ClockSource ShiftedClock(int seconds) {
  return [seconds] {
    const QDateTime t = QDateTime::currentDateTime().addSecs(seconds);
    DateTime d;
    d.year = t.date().year();
    d.month = t.date().month();
    d.day = t.date().day();
    d.dayOfWeek = t.date().dayOfWeek() % 7;
    d.hour = t.time().hour();
    d.minute = t.time().minute();
    d.second = t.time().second();
    d.milliseconds = t.time().msec();
    return d;
  };
}

// Whether the column shows the cell's whole text.
bool Whole(QTableWidget* table, int row, int column) {
  const QString text = Cell(table, row, column);
  return table->columnWidth(column) >= table->fontMetrics().horizontalAdvance(text) + 6;
}

int RowNamed(QTableWidget* table, const QString& name) {
  for (int row = 0; row < table->rowCount(); ++row)
    if (Cell(table, row, TFleetForm::kName) == name) return row;
  return -1;
}

// Fills the edit dialog's fields that are given and presses OK.
void FillAndAccept(QWidget* dialog, const QString& name, const QString& line,
                   const QString& groups = QString()) {
  if (!name.isNull()) Child<QLineEdit>(dialog, "NameEdit")->setText(name);
  if (!line.isNull()) Child<QLineEdit>(dialog, "LineEdit")->setText(line);
  if (!groups.isNull()) Child<QLineEdit>(dialog, "GroupsEdit")->setText(groups);
  Click(dialog, "okButton");
}

// A set long enough that a paced board's upload shows its progress (about
// 24 bytes of image a line; the default size limit is 4096 bytes).
std::string LongSet(int lines) {
  std::string set;
  for (int i = 0; i < lines; ++i) set += "Line " + std::to_string(i) + " of the fleet set\r\n";
  return set;
}

}  // namespace

class FleetFormTest : public QObject, public MainWindowFixture {
  Q_OBJECT

 private:
  fs::path work_;
  std::unique_ptr<fleet::Register> register_;
  FleetSet set_;

  // Puts boards into the register the windows open.
  void Enter(const std::vector<fleet::BoardRecord>& boards) {
    for (const auto& b : boards) {
      std::string error;
      QVERIFY2(register_->Add(b, error), error.c_str());
    }
  }

  // The window opened on the register, with quick line timings.
  std::unique_ptr<TFleetForm> OpenForm() {
    auto form = std::make_unique<TFleetForm>(nullptr, [this] { return set_; });
    fleet::LinkOptions link;
    link.settleMs = 20;
    link.replyTimeoutMs = 400;
    form->Run().SetLink(link);
    form->Run().SetLockFolder((work_ / "locks").string());
    if (!form->OpenRegister()) return nullptr;
    form->show();
    return form;
  }

 private slots:
  void init() {
    work_ = TestFolder("gui", QTest::currentTestFunction());
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString((work_ / "data").string()));
    Settings() = TSettings{};
    messages_ = std::make_unique<MessageCapture>();
    register_ = std::make_unique<fleet::Register>();
    std::string error;
    QVERIFY2(register_->Open(FleetRegisterPath(), error), error.c_str());
    set_ = {Utf8ToCp1251(u8"Добрый день!{[SP:100]}Hello"), (work_ / "day.txt").string()};
  }

  void cleanup() {
    register_.reset();
    TearDown();
  }

  // Add, edit and remove through the window; a malformed line and the
  // register's own refusals are shown exactly and keep the dialog open.
  void addEditRemove() {
    auto form = OpenForm();
    QVERIFY(form);
    auto* table = Child<QTableWidget>(form.get(), "BoardTable");

    OnDialog("BoardEditForm", [](QWidget* d) {
      FillAndAccept(d, Q(u8"Аптека 1"), "socket://127.0.0.1:4001", Q(u8"Аптеки, Центр"));
    });
    form->AddBoard();
    QVERIFY(messages_->Texts().isEmpty());
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(Cell(table, 0, TFleetForm::kGroups), Q(u8"Аптеки, Центр"));
    QCOMPARE(Child<QComboBox>(form.get(), "GroupBox")->count(), 3);  // all, two groups

    // Each refusal leaves the dialog up; Cancel then changes nothing.
    const struct {
      QString name, line, message;
    } refusals[] = {
        {Q(u8"Аптека 2"), "socket://127.0.0.1",
         Q(u8"Ошибка: Неверно указан порт: «socket://127.0.0.1».\nУкажите устройство (например, "
           u8"/dev/ttyUSB0), socket://узел:порт или rfc2217://узел:порт.")},
        {Q(u8"Аптека 2"), "rfc2217://:4001",
         Q(u8"Ошибка: Неверно указан порт: «rfc2217://:4001».\nУкажите устройство (например, "
           u8"/dev/ttyUSB0), socket://узел:порт или rfc2217://узел:порт.")},
        {"", "/dev/ttyS0", Q(u8"Ошибка: у табло нет имени")},
        {Q(u8"Аптека 2"), "", Q(u8"Ошибка: у табло 'Аптека 2' не задана линия")},
    };
    for (const auto& r : refusals) {
      messages_->Clear();
      bool stayed = false;
      OnDialog("BoardEditForm", [&](QWidget* d) {
        FillAndAccept(d, r.name, r.line);
        stayed = d->isVisible();
        Click(d, "cancelButton");
      });
      form->AddBoard();
      QCOMPARE(messages_->Texts(), QStringList{r.message});
      QVERIFY(stayed);
      QCOMPARE(table->rowCount(), 1);
    }

    // Enter edits the current board: the line put right, the name changed.
    messages_->Clear();
    table->setCurrentCell(0, 0);
    OnDialog("BoardEditForm", [](QWidget* d) {
      QCOMPARE(Child<QLineEdit>(d, "NameEdit")->text(), Q(u8"Аптека 1"));
      Child<QSpinBox>(d, "AddressSpin")->setValue(7);
      FillAndAccept(d, Q(u8"Аптека на Мира"), "rfc2217://10.0.0.5:4001");
    });
    QTest::keyClick(table, Qt::Key_Return);
    QVERIFY(messages_->Texts().isEmpty());
    std::string error;
    const auto stored = register_->Find(Utf8ToCp1251(u8"Аптека на Мира"), error);
    QVERIFY(stored);
    QCOMPARE(stored->line, std::string("rfc2217://10.0.0.5:4001"));
    QCOMPARE(stored->address, 7);
    QCOMPARE(Cell(table, 0, TFleetForm::kAddress), QString("7"));

    // Del asks, and No keeps the board.
    table->setCurrentCell(0, 0);
    QTest::keyClick(table, Qt::Key_Delete);
    QCOMPARE(messages_->Texts(),
             QStringList{Q(u8"Подтверждение: Удалить табло «Аптека на Мира» из реестра?")});
    QCOMPARE(table->rowCount(), 1);
    messages_->QueueAnswer(QMessageBox::Yes);
    QTest::keyClick(table, Qt::Key_Delete);
    QCOMPARE(table->rowCount(), 0);
    std::vector<fleet::BoardRecord> left;
    QVERIFY(register_->List(left, error));
    QVERIFY(left.empty());
  }

  // A shared register whose server does not answer: the window says so and
  // offers the operator's own register; No opens nothing.
  void unreachableServerOffersTheLocalRegister() {
    Enter({Board("local", "/dev/ttyS0", {u8"g"})});
    Settings().FleetDatabase = "postgresql://nobody@127.0.0.1:1/lentar";
    const QString offer = Q(u8"Реестр табло: Общий реестр табло недоступен.\nРеестр табло "
                            u8"'postgresql://nobody@127.0.0.1:1/lentar': сервер базы данных не "
                            u8"отвечает: ");
    const QString local =
        Q(u8"\n\nОткрыть локальный реестр «%1»?").arg(FromBoardText(FleetDatabasePath()));
    messages_->QueueAnswer(QMessageBox::No);
    TFleetForm refused(nullptr, [this] { return set_; });
    QVERIFY(!refused.OpenRegister());
    QCOMPARE(messages_->Texts().size(), 1);
    QVERIFY2(messages_->Texts()[0].startsWith(offer) && messages_->Texts()[0].endsWith(local),
             qPrintable(messages_->Texts()[0]));

    messages_->Clear();
    messages_->QueueAnswer(QMessageBox::Yes);
    auto form = OpenForm();
    QVERIFY(form);
    QCOMPARE(messages_->Texts().size(), 1);
    QCOMPARE(form->Shown().size(), size_t{1});
    QCOMPARE(form->Shown()[0].name, std::string("local"));
  }

  // The group filter and the search narrow the table.
  void filterAndSearch() {
    Enter({Board("a1", "/dev/ttyS0", {u8"Аптеки"}), Board("a2", "/dev/ttyS1", {u8"Аптеки"}),
           Board("s1", "socket://shop:1", {u8"Магазины"})});
    auto form = OpenForm();
    QVERIFY(form);
    auto* table = Child<QTableWidget>(form.get(), "BoardTable");
    QCOMPARE(table->rowCount(), 3);
    auto* group = Child<QComboBox>(form.get(), "GroupBox");
    group->setCurrentIndex(group->findText(Q(u8"Аптеки")));
    QCOMPARE(table->rowCount(), 2);
    Child<QLineEdit>(form.get(), "SearchEdit")->setText("ttyS1");
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(Cell(table, 0, TFleetForm::kName), QString("a2"));
  }

  // "Проверить связь" fills the online and clock columns; the unreachable
  // board is marked with why.
  void sweepMarksTheUnreachableBoard() {
    SimProcess sim;
    fs::create_directories(work_ / "sim");
    QVERIFY(sim.StartListening(work_ / "sim", false, {"--count", "3", "--fail-boards", "1"}));
    const auto lines = LinesOf(work_ / "sim" / "port");
    QCOMPARE(lines.size(), size_t{3});
    Enter({Board("b1", lines[0], {u8"g"}), Board("b2", lines[1], {u8"g"}), Board("dead", lines[2], {u8"g"})});
    auto form = OpenForm();
    QVERIFY(form);
    auto* table = Child<QTableWidget>(form.get(), "BoardTable");
    std::vector<int> read;
    connect(&form->Run(), &TFleetRun::boardRead, [&](int b, const fleet::BoardStatus&) { read.push_back(b); });
    Click(form.get(), "CheckButton");
    QVERIFY(!Button(form.get(), "CheckButton")->isEnabled());
    QVERIFY(WaitForDeviceWork(form.get()));
    QCOMPARE(read.size(), size_t{3});
    for (const char* name : {"b1", "b2"}) {
      const int row = RowNamed(table, name);
      QCOMPARE(Cell(table, row, TFleetForm::kOnline), Q(u8"да"));
      QVERIFY2(Cell(table, row, TFleetForm::kDrift).endsWith(Q(u8" с")), name);
    }
    const QString dead = Cell(table, RowNamed(table, "dead"), TFleetForm::kOnline);
    QVERIFY2(dead.startsWith(Q(u8"нет: ")) && dead.contains(Q(u8"не отвечает")), qPrintable(dead));
    QCOMPARE(Child<QLabel>(form.get(), "StatusLabel")->text(), Q(u8"На связи: 2 из 3"));
    QCOMPARE(Child<QProgressBar>(form.get(), "TotalBar")->value(), 100);  // every board read
    QVERIFY(messages_->Texts().isEmpty());
  }

  // A board that answers but loses the clock read: the clock column says
  // it was not read, never a blank or a drift of 0.
  void sweepSaysWhatItDidNotRead() {
    SimProcess sim;
    fs::create_directories(work_ / "sim");
    QVERIFY(sim.StartListening(work_ / "sim", false, {"--ignore", "0x08"}));
    Enter({Board("b1", sim.Link(), {u8"g"})});
    auto form = OpenForm();
    QVERIFY(form);
    auto* table = Child<QTableWidget>(form.get(), "BoardTable");
    Click(form.get(), "CheckButton");
    QVERIFY(WaitForDeviceWork(form.get()));
    const int row = RowNamed(table, "b1");
    QCOMPARE(Cell(table, row, TFleetForm::kOnline), Q(u8"да"));
    QCOMPARE(Cell(table, row, TFleetForm::kDrift), Q(u8"не прочитано"));
  }

  // "Отправить набор" to a group of five, one unreachable: four delivered,
  // one failed with its exact text, each board's gauge moving during the
  // run, and the log window lists all five attempts.
  void sendSetToAGroupOfFive() {
    SimProcess sim;
    fs::create_directories(work_ / "sim");
    QVERIFY(sim.StartListening(work_ / "sim", false,
                               {"--count", "5", "--fail-boards", "1", "--pace", "--save-dir",
                                (work_ / "sim").string()}));
    const auto lines = LinesOf(work_ / "sim" / "port");
    QCOMPARE(lines.size(), size_t{5});
    std::vector<fleet::BoardRecord> boards;
    for (int i = 0; i < 5; ++i)
      boards.push_back(Board("shop" + std::to_string(i + 1), lines[i], {u8"Магазины"}));
    boards.push_back(Board("office", "socket://127.0.0.1:9", {u8"Офис"}));
    Enter(boards);
    set_.text = LongSet(20);
    auto form = OpenForm();
    QVERIFY(form);
    auto* table = Child<QTableWidget>(form.get(), "BoardTable");
    auto* group = Child<QComboBox>(form.get(), "GroupBox");
    group->setCurrentIndex(group->findText(Q(u8"Магазины")));
    QCOMPARE(table->rowCount(), 5);

    // What the rows' gauges show between the start and the end of a board.
    std::map<QString, std::set<int>> seen;
    int totalSeen = 0;
    connect(&form->Run(), &TFleetRun::progress, [&](int b, int) {
      const int row = RowNamed(table, QString::fromStdString(form->Shown()[b].name));
      if (auto* bar = qobject_cast<QProgressBar*>(table->cellWidget(row, TFleetForm::kProgress)))
        seen[Cell(table, row, TFleetForm::kName)].insert(bar->value());
      const int total = Child<QProgressBar>(form.get(), "TotalBar")->value();
      if (total > 0 && total < 100) ++totalSeen;
    });
    std::vector<fleet::BoardResult> results;
    connect(&form->Run(), &TFleetRun::delivered,
            [&](const std::vector<fleet::BoardResult>& r, const QString&) { results = r; });
    Click(form.get(), "SendButton");
    QCOMPARE(messages_->Texts(),
             QStringList{Q(u8"Подтверждение: Отправить набор «day.txt» на табло: 5?")});
    QVERIFY(Button(form.get(), "InterruptButton")->isEnabled());
    QVERIFY(!Button(form.get(), "SendButton")->isEnabled());
    QVERIFY(WaitForDeviceWork(form.get()));

    QCOMPARE(results.size(), size_t{5});
    for (int i = 0; i < 4; ++i) {
      const QString name = QString("shop%1").arg(i + 1);
      const int row = RowNamed(table, name);
      QCOMPARE(Cell(table, row, TFleetForm::kResult),
               Q(u8"Загрузка успешно завершена! (490 байт, буфер 1)"));
      QVERIFY2(std::any_of(seen[name].begin(), seen[name].end(), [](int v) { return v > 0 && v < 100; }),
               qPrintable(name));
      QCOMPARE(qobject_cast<QProgressBar*>(table->cellWidget(row, TFleetForm::kProgress))->value(), 100);
      QCOMPARE(Cell(table, row, TFleetForm::kWhat), QString("day.txt"));
      QVERIFY(fs::exists(work_ / "sim" / ("board-" + std::to_string(i + 1)) / "upload-1.bin"));
    }
    QVERIFY(totalSeen > 0);
    const int dead = RowNamed(table, "shop5");
    QCOMPARE(Cell(table, dead, TFleetForm::kResult), FromBoardText(results[4].message));
    QCOMPARE(Cell(table, dead, TFleetForm::kResult),
             Q(u8"Ошибка связи с контроллером! (табло не отвечает)"));
    QCOMPARE(Child<QLabel>(form.get(), "StatusLabel")->text(),
             Q(u8"Доставлено: 4, не доставлено: 1, пропущено: 0 (всего табло: 5)"));
    QCOMPARE(Child<QProgressBar>(form.get(), "TotalBar")->value(), 100);
    QCOMPARE(messages_->Texts().size(), 1);  // the question only

    // The log window: all five attempts, the failure with its text.
    Click(form.get(), "LogButton");
    auto* log = form->findChild<TFleetLogForm*>("FleetLogForm");
    QVERIFY(log);
    QCOMPARE(log->Entries().size(), size_t{5});
    std::map<std::string, std::string> outcomes;
    for (const auto& e : log->Entries()) outcomes[e.board] = e.outcome;
    for (int i = 1; i <= 4; ++i) QCOMPARE(outcomes["shop" + std::to_string(i)], std::string("delivered"));
    QCOMPARE(outcomes["shop5"], std::string("failed"));
    auto* board = Child<QComboBox>(log, "BoardBox");
    board->setCurrentIndex(board->findText("shop5"));
    QCOMPARE(Child<QTableWidget>(log, "LogTable")->rowCount(), 1);
    QCOMPARE(Cell(Child<QTableWidget>(log, "LogTable"), 0, 7),
             Q(u8"Ошибка связи с контроллером! (табло не отвечает)"));
  }

  // The log's CSV: UTF-8 with its mark, semicolons, a field with a
  // semicolon quoted; written through the save dialog.
  void logExportsCsv() {
    fleet::LogEntry entry;
    entry.board = Utf8ToCp1251(u8"Табло; первое");
    entry.groups = {"g"};
    entry.line = "/dev/ttyS0";
    entry.setFile = "/sets/a.txt";
    entry.sha256 = std::string(64, 'c');
    entry.size = 120;
    std::string error;
    const long long id = register_->BeginAttempt(entry, error);
    QVERIFY(id > 0);
    QVERIFY(register_->FinishAttempt(id, "refused", Utf8ToCp1251(u8"Введен неверный пароль"), error));
    TFleetLogForm log(nullptr, *register_);
    log.Reload();
    QCOMPARE(log.Entries().size(), size_t{1});
    const std::string csv = log.CsvText();
    QVERIFY(csv.starts_with("\xEF\xBB\xBF" "Начало;Конец;Табло;"));
    QVERIFY2(csv.find(";\"Табло; первое\";g;/dev/ttyS0;;") != std::string::npos, csv.c_str());
    QVERIFY2(csv.find(";" + std::string(64, 'c') + ";120;1;Отказ;Введен неверный пароль\r\n") !=
                 std::string::npos,
             csv.c_str());

    FileDialogCapture dialogs;
    const fs::path file = work_ / "log.csv";
    dialogs.QueueAnswer(file.string());
    log.Export();
    QCOMPARE(ReadFile(file), csv);
    QVERIFY(messages_->Texts().isEmpty());
  }

  // "Прервать" during a paced delivery stops it: the boards not done say
  // "Прервано оператором"; closing while work runs asks first, and No keeps
  // the window and the work.
  void interruptAndCloseDuringADelivery() {
    SimProcess sim;
    fs::create_directories(work_ / "sim");
    QVERIFY(sim.StartListening(work_ / "sim", false, {"--count", "2", "--pace"}));
    const auto lines = LinesOf(work_ / "sim" / "port");
    Enter({Board("p1", lines[0], {u8"g"}), Board("p2", lines[1], {u8"g"})});
    set_.text = LongSet(150);
    auto form = OpenForm();
    QVERIFY(form);
    auto* table = Child<QTableWidget>(form.get(), "BoardTable");
    bool moving = false;
    connect(&form->Run(), &TFleetRun::progress, [&](int, int percent) { moving |= percent > 0; });
    Click(form.get(), "SendButton");
    QVERIFY(QTest::qWaitFor([&] { return moving; }, 60000));

    messages_->Clear();
    form->close();
    QCOMPARE(messages_->Texts(),
             QStringList{Q(u8"Подтверждение: Идёт работа с табло. Прервать её и закрыть окно?")});
    QVERIFY(form->isVisible());
    QVERIFY(form->Run().Busy());

    Click(form.get(), "InterruptButton");
    QVERIFY(!Button(form.get(), "InterruptButton")->isEnabled());
    QVERIFY(WaitForDeviceWork(form.get(), 30000));
    for (int row = 0; row < 2; ++row)
      QCOMPARE(Cell(table, row, TFleetForm::kResult), Q(u8"Прервано оператором"));
    QVERIFY(Child<QLabel>(form.get(), "StatusLabel")->text().contains(Q(u8"прервано: 2")));
    QVERIFY(Button(form.get(), "SendButton")->isEnabled());
  }

  // The window follows the register: a board added, one changed and one
  // removed through another connection (as lentar-cli or another operator
  // does) show without a word from the operator, the rows chosen stay
  // chosen; "Обновить" (F5) reads at once. On a register file and on a
  // register shared on PostgreSQL.
  void followsChangesMadeElsewhere_data() {
    QTest::addColumn<bool>("shared");
    QTest::newRow("file") << false;
    QTest::newRow("server") << true;
  }
  void followsChangesMadeElsewhere() {
    QFETCH(bool, shared);
    if (shared) {
      std::string error;
      const std::string address = lentar::testing::PgFreshDatabase("fleet_window_live", error);
      if (address.empty() && error.empty()) QSKIP("no PostgreSQL server in this run");
      QVERIFY2(error.empty(), error.c_str());
      Settings().FleetDatabase = address;
      register_ = std::make_unique<fleet::Register>();
      QVERIFY2(register_->Open(address, error), error.c_str());
    }
    Enter({Board("a1", "/dev/ttyS0", {u8"g"}), Board("a2", "/dev/ttyS1", {u8"g"}),
           Board("a3", "/dev/ttyS2", {u8"g"})});
    auto form = OpenForm();
    QVERIFY(form);
    auto* table = Child<QTableWidget>(form.get(), "BoardTable");
    table->selectionModel()->select(
        QItemSelection(table->model()->index(RowNamed(table, "a1"), 0),
                       table->model()->index(RowNamed(table, "a1"), TFleetForm::kColumns - 1)),
        QItemSelectionModel::Select);
    table->selectionModel()->select(
        QItemSelection(table->model()->index(RowNamed(table, "a3"), 0),
                       table->model()->index(RowNamed(table, "a3"), TFleetForm::kColumns - 1)),
        QItemSelectionModel::Select);
    QCOMPARE(SelectedNames(table), (QStringList{"a1", "a3"}));

    std::string error;
    Enter({Board("a0", "/dev/ttyS9", {u8"g"})});
    fleet::BoardRecord moved = Board("a3", "/dev/ttyUSB7", {u8"g"});
    QVERIFY2(register_->Update("a3", moved, error), error.c_str());
    QVERIFY2(register_->Remove("a2", error), error.c_str());
    QVERIFY(QTest::qWaitFor([&] { return table->rowCount() == 3 && RowNamed(table, "a0") >= 0; }, 15000));
    QCOMPARE(RowNamed(table, "a2"), -1);
    QCOMPARE(Cell(table, RowNamed(table, "a3"), TFleetForm::kLine), QString("/dev/ttyUSB7"));
    QCOMPARE(SelectedNames(table), (QStringList{"a1", "a3"}));

    // F5 reads the register at once.
    form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
    Enter({Board("b1", "/dev/ttyS5", {u8"g"})});
    // (the button, pressed by its key, clicks a moment later)
    bool refreshed = false;
    connect(Button(form.get(), "RefreshButton"), &QPushButton::clicked, [&] { refreshed = true; });
    QTest::keyClick(table, Qt::Key_F5);
    QVERIFY(QTest::qWaitFor([&] { return refreshed; }, 5000));
    QVERIFY(RowNamed(table, "b1") >= 0);
    QCOMPARE(SelectedNames(table), (QStringList{"a1", "a3"}));
    QVERIFY(messages_->Texts().isEmpty());
  }

  // Escape closes the window and the log window; the window comes back
  // where it was left.
  void escapeClosesAndThePlaceIsKept() {
    Enter({Board("a1", "/dev/ttyS0", {u8"g"})});
    auto form = OpenForm();
    QVERIFY(form);
    form->resize(760, 420);
    form->move(40, 30);
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
    const IntRect place = WindowGeometryRect(*form);
    // Noted while the window is open, for the editor that ends with it open.
    QCOMPARE(Settings().FleetCoor, place);
    Settings().FleetCoor = {};
    QTest::keyClick(Child<QTableWidget>(form.get(), "BoardTable"), Qt::Key_Escape);
    QVERIFY(!form->isVisible());
    QCOMPARE(Settings().FleetCoor, place);

    TFleetLogForm log(nullptr, *register_);
    log.show();
    log.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&log));
    QTest::keyClick(Child<QTableWidget>(&log, "LogTable"), Qt::Key_Escape);
    QVERIFY(!log.isVisible());

    // Its size and height on the screen; sideways it is moved inside the
    // test's screen, which is narrower than the window.
    auto again = OpenForm();
    QVERIFY(again);
    QVERIFY(QTest::qWaitForWindowExposed(again.get()));
    QCOMPARE(again->geometry().size(), QSize(place.right - place.left, place.bottom - place.top));
    QCOMPARE(again->geometry().top(), place.top);
  }

  // The columns show their texts whole while there is room; in a narrow
  // window the long texts give way (cut in the middle, whole in the
  // tooltip) and the short ones do not.
  void columnsFitTheirTexts() {
    SimProcess sim;
    fs::create_directories(work_ / "sim");
    QVERIFY(sim.StartListening(work_ / "sim", false, {"--count", "2", "--fail-boards", "1"}));
    const auto lines = LinesOf(work_ / "sim" / "port");
    Enter({Board(Utf8ToCp1251(u8"Аптека в ТЦ «Север», второй этаж"), lines[0], {u8"Аптеки", u8"Центр"}),
           Board("dead", lines[1], {u8"Аптеки"})});
    auto form = OpenForm();
    QVERIFY(form);
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    auto* table = Child<QTableWidget>(form.get(), "BoardTable");
    form->CheckLinks();
    QVERIFY(WaitForDeviceWork(form.get()));
    QTest::qWait(0);
    QCoreApplication::processEvents();
    const int dead = RowNamed(table, "dead");
    QVERIFY(Cell(table, dead, TFleetForm::kOnline).startsWith(Q(u8"нет: ")));
    for (int row = 0; row < table->rowCount(); ++row)
      for (int column = TFleetForm::kName; column < TFleetForm::kProgress; ++column)
        QVERIFY2(Whole(table, row, column), qPrintable(QString("row %1 column %2: %3 in %4 px")
                                                           .arg(row)
                                                           .arg(column)
                                                           .arg(Cell(table, row, column))
                                                           .arg(table->columnWidth(column))));
    int sum = 0;
    for (int column = 0; column < TFleetForm::kColumns; ++column) sum += table->columnWidth(column);
    QVERIFY(sum <= table->viewport()->width());

    // A name too long for the table: it gives way, the short columns keep
    // their texts whole and the table needs no scrolling sideways.
    const std::string longName = Utf8ToCp1251(
        u8"Аптека в торговом центре «Север» на втором этаже у эскалатора, витрина слева от входа, "
        u8"касса № 3, через коммутатор второго этажа и медиаконвертер в подсобке");
    std::string error;
    fleet::BoardRecord renamed = *register_->Find("dead", error);
    renamed.name = longName;
    QVERIFY2(register_->Update("dead", renamed, error), error.c_str());
    Click(form.get(), "RefreshButton");
    const int longRow = RowNamed(table, FromBoardText(longName));
    QVERIFY(longRow >= 0);
    QVERIFY(!Whole(table, longRow, TFleetForm::kName));
    QCOMPARE(table->item(longRow, TFleetForm::kName)->toolTip(), FromBoardText(longName));
    for (int row = 0; row < table->rowCount(); ++row)
      for (int column : {TFleetForm::kAddress, TFleetForm::kDrift, TFleetForm::kWhen})
        QVERIFY2(Whole(table, row, column), qPrintable(Cell(table, row, column)));
    sum = 0;
    for (int column = 0; column < TFleetForm::kColumns; ++column) sum += table->columnWidth(column);
    QVERIFY(sum <= table->viewport()->width());
    QCOMPARE(table->textElideMode(), Qt::ElideMiddle);
  }

  // "Синхронизировать часы": the clock cell shows how far the clock is off
  // after it was set, beside what it was before.
  void syncShowsTheNewDrift() {
    SimProcess sim;
    fs::create_directories(work_ / "sim");
    QVERIFY(sim.StartListening(work_ / "sim", false, {"--count", "1"}));
    const auto lines = LinesOf(work_ / "sim" / "port");
    Enter({Board("clock", lines[0], {u8"g"})});
    auto form = OpenForm();
    QVERIFY(form);
    auto* table = Child<QTableWidget>(form.get(), "BoardTable");
    // The board's clock put 75 s ahead of the computer's.
    form->Run().SetClock(ShiftedClock(75));
    form->SyncClocks();
    QVERIFY(WaitForDeviceWork(form.get()));
    form->Run().SetClock(nullptr);
    form->CheckLinks();
    QVERIFY(WaitForDeviceWork(form.get()));
    const QString before = Cell(table, 0, TFleetForm::kDrift);
    const QRegularExpression plain(QStringLiteral("^\\+(7[3-7]) с$"));
    QVERIFY2(plain.match(before).hasMatch(), qPrintable(before));

    Click(form.get(), "ClockButton");
    QVERIFY(WaitForDeviceWork(form.get()));
    const QString after = Cell(table, 0, TFleetForm::kDrift);
    const QRegularExpression set(QStringLiteral("^([+-]?\\d+) с \\(было \\+(7[3-7]) с\\)$"));
    const auto match = set.match(after);
    QVERIFY2(match.hasMatch(), qPrintable(after));
    QVERIFY2(std::abs(match.captured(1).toInt()) <= 2, qPrintable(after));
    QCOMPARE(Child<QLabel>(form.get(), "StatusLabel")->text(),
             Q(u8"На связи: 1 из 1, часы поставлены: 1"));
  }

  // "Прервать" on a bus: the board being loaded is stopped with what it got,
  // the one after it is "не начато" (not beside its earlier delivery's
  // time), its gauge never showed a figure, the total is short of 100% and
  // the summary counts both.
  void interruptOnABusLeavesABoardNotStarted() {
    SimProcess sim;
    fs::create_directories(work_ / "sim");
    QVERIFY(sim.StartListening(work_ / "sim", false, {"--count", "1", "--addresses", "1,2", "--pace"}));
    const auto lines = LinesOf(work_ / "sim" / "port");
    fleet::BoardRecord first = Board("bus1", lines[0], {u8"g"});
    first.address = 1;
    fleet::BoardRecord second = Board("bus2", lines[0], {u8"g"});
    second.address = 2;
    Enter({first, second});
    // bus2 got a set yesterday.
    fleet::LogEntry earlier;
    earlier.board = "bus2";
    earlier.started = "2026-12-10 09:00:00.000";
    earlier.setFile = "/sets/old.txt";
    std::string error;
    const long long id = register_->BeginAttempt(earlier, error);
    QVERIFY(id > 0 && register_->FinishAttempt(id, "delivered", "ok", error));

    set_.text = LongSet(150);
    auto form = OpenForm();
    QVERIFY(form);
    auto* table = Child<QTableWidget>(form.get(), "BoardTable");
    const int row1 = RowNamed(table, "bus1"), row2 = RowNamed(table, "bus2");
    bool moving = false, waitingShowedAFigure = false;
    connect(&form->Run(), &TFleetRun::progress, [&](int, int percent) {
      moving |= percent > 0;
      if (auto* bar = qobject_cast<QProgressBar*>(table->cellWidget(row2, TFleetForm::kProgress)))
        waitingShowedAFigure |= bar->isTextVisible();
    });
    Click(form.get(), "SendButton");
    QVERIFY(QTest::qWaitFor([&] { return moving; }, 60000));
    Click(form.get(), "InterruptButton");
    QVERIFY(WaitForDeviceWork(form.get(), 30000));

    QCOMPARE(Cell(table, row1, TFleetForm::kResult), Q(u8"Прервано оператором"));
    auto* bar1 = qobject_cast<QProgressBar*>(table->cellWidget(row1, TFleetForm::kProgress));
    QVERIFY(bar1 && bar1->value() > 0 && bar1->value() < 100);
    QCOMPARE(Cell(table, row2, TFleetForm::kResult), Q(u8"не начато"));
    QCOMPARE(Cell(table, row2, TFleetForm::kWhen), Q(u8"—"));
    QCOMPARE(Cell(table, row2, TFleetForm::kWhat), QString("day.txt"));
    auto* bar2 = qobject_cast<QProgressBar*>(table->cellWidget(row2, TFleetForm::kProgress));
    QVERIFY(bar2 && !bar2->isTextVisible());
    QVERIFY(!waitingShowedAFigure);
    const int total = Child<QProgressBar>(form.get(), "TotalBar")->value();
    QVERIFY2(total < 100, qPrintable(QString::number(total)));
    QCOMPARE(Child<QLabel>(form.get(), "StatusLabel")->text(),
             Q(u8"Доставлено: 0, не доставлено: 0, пропущено: 0, прервано: 1, не начато: 1 "
               u8"(всего табло: 2)"));

    // The rows keep saying so when the table is filled again.
    Click(form.get(), "RefreshButton");
    QCOMPARE(Cell(table, RowNamed(table, "bus2"), TFleetForm::kResult), Q(u8"не начато"));
    QCOMPARE(Cell(table, RowNamed(table, "bus2"), TFleetForm::kWhen), Q(u8"—"));
  }

  // An unsaved set: the question says the text is not saved, and the log
  // names the text by its digest, not by the file that does not hold it.
  void unsavedSetIsLoggedByItsDigest() {
    SimProcess sim;
    fs::create_directories(work_ / "sim");
    QVERIFY(sim.StartListening(work_ / "sim", false, {"--count", "1"}));
    const auto lines = LinesOf(work_ / "sim" / "port");
    Enter({Board("one", lines[0], {u8"g"})});
    const std::string digest =
        QCryptographicHash::hash(QByteArray::fromStdString(set_.text), QCryptographicHash::Sha256)
            .toHex()
            .left(12)
            .toStdString();
    const std::string logged = Utf8ToCp1251(u8"(не сохранён) SHA-256 ") + digest;
    const struct {
      std::string file;
      bool modified;
      QString question;
    } cases[] = {
        {(work_ / "day.txt").string(), true,
         Q(u8"Подтверждение: Набор «day.txt» изменён и не сохранён: на табло уйдёт текст из "
           u8"редактора, в журнале он будет записан как «%1».\n\nОтправить его на табло: 1?")
             .arg(FromBoardText(logged))},
        {"", false,
         Q(u8"Подтверждение: Набор не сохранён в файл: на табло уйдёт текст из редактора, в "
           u8"журнале он будет записан как «%1».\n\nОтправить его на табло: 1?")
             .arg(FromBoardText(logged))},
    };
    auto form = OpenForm();
    QVERIFY(form);
    auto* table = Child<QTableWidget>(form.get(), "BoardTable");
    for (const auto& c : cases) {
      set_.file = c.file;
      set_.modified = c.modified;
      messages_->Clear();
      Click(form.get(), "SendButton");
      QCOMPARE(messages_->Texts(), QStringList{c.question});
      QVERIFY(WaitForDeviceWork(form.get()));
      std::vector<fleet::LogEntry> log;
      std::string error;
      QVERIFY(register_->ReadLog({}, log, error));
      QVERIFY(!log.empty());
      QCOMPARE(log.back().setFile, logged);
      QCOMPARE(log.back().outcome, std::string("delivered"));
      QCOMPARE(Cell(table, 0, TFleetForm::kWhat), FromBoardText(logged));
    }
  }

  // Groups: the edit dialog offers the register's groups and takes a typed
  // one in the register's spelling; a group is renamed, and merged into
  // another by naming it (without regard to case).
  void groupsAreOfferedRenamedAndMerged() {
    Enter({Board("v1", "/dev/ttyS0", {u8"Вокзал"}), Board("c1", "/dev/ttyS1", {u8"Центр"}),
           Board("s1", "/dev/ttyS2", {u8"Склад"})});
    auto form = OpenForm();
    QVERIFY(form);
    auto* table = Child<QTableWidget>(form.get(), "BoardTable");
    auto* group = Child<QComboBox>(form.get(), "GroupBox");
    QVERIFY(!Button(form.get(), "GroupButton")->isEnabled());  // no group chosen

    QStringList offered;
    OnDialog("BoardEditForm", [&](QWidget* d) {
      auto* button = Child<QToolButton>(d, "GroupsButton");
      for (QAction* a : button->menu()->actions()) offered << a->text();
      for (QAction* a : button->menu()->actions())
        if (a->text() == Q(u8"Центр")) a->setChecked(true);
      auto* groups = Child<QLineEdit>(d, "GroupsEdit");
      groups->setText(groups->text() + Q(u8", вокзал , ЦЕНТР"));
      FillAndAccept(d, "new", "/dev/ttyS3");
    });
    form->AddBoard();
    QCOMPARE(offered, (QStringList{Q(u8"Вокзал"), Q(u8"Склад"), Q(u8"Центр")}));
    std::string error;
    const auto added = register_->Find("new", error);
    QVERIFY(added);
    QCOMPARE(added->groups, (std::vector<std::string>{Utf8ToCp1251(u8"Вокзал"), Utf8ToCp1251(u8"Центр")}));

    // "Склад" merged into "Центр", typed in another case.
    group->setCurrentIndex(group->findText(Q(u8"Склад")));
    QString hint;
    OnDialog("GroupRenameForm", [&](QWidget* d) {
      Child<QComboBox>(d, "NameBox")->setEditText(Q(u8" центр"));
      hint = Child<QLabel>(d, "HintLabel")->text();
      Click(d, "okButton");
    });
    Click(form.get(), "GroupButton");
    QCOMPARE(hint, Q(u8"Группа «Центр» уже есть: табло группы «Склад» войдут в неё."));
    QCOMPARE(group->currentText(), Q(u8"Центр"));
    QCOMPARE(group->findText(Q(u8"Склад")), -1);
    QCOMPARE(table->rowCount(), 3);  // c1, new, s1
    std::vector<std::string> groups;
    QVERIFY(register_->ListGroups(groups, error));
    QCOMPARE(groups, (std::vector<std::string>{Utf8ToCp1251(u8"Вокзал"), Utf8ToCp1251(u8"Центр")}));

    // "Центр" renamed: the filter follows it.
    OnDialog("GroupRenameForm", [&](QWidget* d) {
      Child<QComboBox>(d, "NameBox")->setEditText(Q(u8"Центр города"));
      Click(d, "okButton");
    });
    Click(form.get(), "GroupButton");
    QCOMPARE(group->currentText(), Q(u8"Центр города"));
    QCOMPARE(table->rowCount(), 3);
    QCOMPARE(Cell(table, RowNamed(table, "new"), TFleetForm::kGroups), Q(u8"Вокзал, Центр города"));
    QVERIFY(messages_->Texts().isEmpty());
  }

  // A label with an accelerator names its field: none shows its ampersand.
  void editDialogLabelsHaveTheirFields() {
    TBoardEditForm dialog(nullptr, Board("a", "/dev/ttyS0", {u8"g"}), {});
    for (QLabel* label : dialog.findChildren<QLabel*>())
      if (label->text().contains(QLatin1Char('&')))
        QVERIFY2(label->buddy(), qPrintable(label->text()));
    QLabel* ini = nullptr;
    for (QLabel* label : dialog.findChildren<QLabel*>())
      if (label->text() == Q(u8"&Файл настроек:")) ini = label;
    QVERIFY(ini);
    QCOMPARE(ini->buddy(), Child<QLineEdit>(&dialog, "IniEdit"));
  }

  // "Отправить в группу": the group's boards listed, delivered with their
  // gauges and the summary; closing while it runs asks, Yes stops the run and
  // closes the dialog once the lines have stopped.
  void groupDeliveryDialog() {
    SimProcess sim;
    fs::create_directories(work_ / "sim");
    QVERIFY(sim.StartListening(work_ / "sim", false, {"--count", "2", "--pace"}));
    const auto lines = LinesOf(work_ / "sim" / "port");
    Enter({Board("k1", lines[0], {u8"Кассы"}), Board("k2", lines[1], {u8"Кассы"}),
           Board("other", "/dev/null", {u8"Склад"})});
    set_.text = LongSet(10);
    TGroupDeliveryForm dialog(nullptr, [this] { return set_; });
    fleet::LinkOptions link;
    link.settleMs = 20;
    dialog.Run().SetLink(link);
    dialog.Run().SetLockFolder((work_ / "locks").string());
    QVERIFY(dialog.OpenRegister());
    dialog.show();
    auto* group = Child<QComboBox>(&dialog, "GroupBox");
    group->setCurrentIndex(group->findText(Q(u8"Кассы")));
    auto* table = Child<QTableWidget>(&dialog, "BoardTable");
    QCOMPARE(table->rowCount(), 2);
    bool moving = false;
    connect(&dialog.Run(), &TFleetRun::progress, [&](int b, int) {
      auto* bar = qobject_cast<QProgressBar*>(table->cellWidget(b, TGroupDeliveryForm::kProgress));
      moving |= bar && bar->value() > 0 && bar->value() < 100;
    });
    Click(&dialog, "SendButton");
    QVERIFY(WaitForDeviceWork(&dialog));
    QVERIFY(moving);
    for (int row = 0; row < 2; ++row)
      QCOMPARE(Cell(table, row, TGroupDeliveryForm::kResult),
               Q(u8"Загрузка успешно завершена! (240 байт, буфер 1)"));
    QCOMPARE(Child<QLabel>(&dialog, "SummaryLabel")->text(),
             Q(u8"Доставлено: 2, не доставлено: 0, пропущено: 0 (всего табло: 2)"));

    // Closing during a run: asked, Yes stops it and the dialog goes after.
    set_.text = LongSet(150);
    bool started = false;
    connect(&dialog.Run(), &TFleetRun::progress, [&](int, int p) { started |= p > 0; });
    Click(&dialog, "SendButton");
    QVERIFY(QTest::qWaitFor([&] { return started; }, 60000));
    messages_->Clear();
    messages_->QueueAnswer(QMessageBox::Yes);
    Click(&dialog, "CloseButton");
    QCOMPARE(messages_->Texts(),
             QStringList{Q(u8"Подтверждение: Идёт отправка набора. Прервать её и закрыть окно?")});
    QVERIFY(WaitForDeviceWork(&dialog, 30000));
    QVERIFY(QTest::qWaitFor([&] { return !dialog.isVisible(); }, 5000));
    QCOMPARE(Cell(table, 0, TGroupDeliveryForm::kResult), Q(u8"Прервано оператором"));
  }

  // The editor's "Загрузка" menu opens both; the tool bar holds the fleet
  // window's button. A register without groups has nothing to send to.
  void editorMenuOpensTheFleetWindows() {
    QVERIFY(MakeProgramFolder());
    ShowMainForm();
    auto* menu = form_->findChild<QMenu*>("UploadMenu");
    QVERIFY(menu);
    auto* fleetItem = form_->findChild<QAction*>("FleetItem");
    auto* groupItem = form_->findChild<QAction*>("GroupDeliveryItem");
    QVERIFY(menu->actions().contains(fleetItem) && menu->actions().contains(groupItem));
    QVERIFY(form_->findChild<QToolBar*>("ToolBar1")->actions().contains(fleetItem));

    groupItem->trigger();
    QCOMPARE(messages_->Texts(),
             QStringList{Q(u8"Информация: В реестре табло нет ни одной группы. Задайте группы "
                           u8"табло в окне «Парк табло».")});
    QVERIFY(!form_->findChild<TGroupDeliveryForm*>());

    Enter({Board("one", "/dev/null", {u8"Склад"})});
    fleetItem->trigger();
    auto* fleetForm = form_->findChild<TFleetForm*>("FleetForm");
    QVERIFY(fleetForm && fleetForm->isVisible());
    QCOMPARE(fleetForm->Shown().size(), size_t{1});
    fleetItem->trigger();  // one window, brought forward
    QCOMPARE(form_->findChildren<TFleetForm*>().size(), 1);
    groupItem->trigger();
    auto* group = form_->findChild<TGroupDeliveryForm*>("GroupDeliveryForm");
    QVERIFY(group && group->isVisible());
    QCOMPARE(group->Boards().size(), size_t{1});
  }
};

QTEST_MAIN(FleetFormTest)
#include "test_fleetform.moc"
