#include "gui/fleet/boardeditform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "core/settings.h"
#include "gui/common/dialogbuttons.h"
#include "gui/common/filedialogs.h"
#include "gui/common/messages.h"
#include "gui/control/boardport.h"

namespace lentar::gui {

namespace {

// The speeds a board's line runs at; 0 takes the settings file's.
constexpr int kSpeeds[] = {0, 9600, 19200, 28800, 38400, 57600};

QComboBox* MakeSpeedBox(QWidget* parent, const char* name, int speed) {
  auto* box = new QComboBox(parent);
  box->setObjectName(QLatin1String(name));
  for (int s : kSpeeds)
    box->addItem(s == 0 ? QStringLiteral("как в файле настроек") : QString::number(s), s);
  box->setCurrentIndex(std::max(0, box->findData(speed)));
  return box;
}

bool SameGroup(const QString& a, const QString& b) {
  return a.trimmed().compare(b.trimmed(), Qt::CaseInsensitive) == 0;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, const std::string& text) {
  auto* edit = new QLineEdit(FromBoardText(text), parent);
  edit->setObjectName(QLatin1String(name));
  return edit;
}

}  // namespace

TBoardEditForm::TBoardEditForm(QWidget* parent, const fleet::BoardRecord& board,
                               std::function<bool(const fleet::BoardRecord&)> store,
                               const std::vector<std::string>& groups)
    : QDialog(parent), original_(board), store_(std::move(store)), knownGroups_(groups) {
  setObjectName(QStringLiteral("BoardEditForm"));
  setWindowTitle(board.name.empty() ? QStringLiteral("Новое табло")
                                    : QStringLiteral("Табло «%1»").arg(FromBoardText(board.name)));

  nameEdit_ = MakeEdit(this, "NameEdit", board.name);
  QStringList typed;
  for (const auto& g : board.groups) typed << FromBoardText(g);
  groupsEdit_ = new QLineEdit(typed.join(QStringLiteral(", ")), this);
  groupsEdit_->setObjectName(QStringLiteral("GroupsEdit"));
  groupsEdit_->setPlaceholderText(knownGroups_.empty() ? QStringLiteral("через запятую")
                                                      : QStringLiteral("через запятую или из списка"));
  groupsButton_ = new QToolButton(this);
  groupsButton_->setObjectName(QStringLiteral("GroupsButton"));
  groupsButton_->setText(QStringLiteral("Выбрать..."));
  groupsButton_->setToolTip(QStringLiteral("Группы, которые уже есть в реестре"));
  groupsButton_->setPopupMode(QToolButton::InstantPopup);
  groupsButton_->setMenu(new QMenu(groupsButton_));
  groupsButton_->setEnabled(!knownGroups_.empty());
  connect(groupsButton_->menu(), &QMenu::aboutToShow, this, &TBoardEditForm::FillGroupMenu);
  FillGroupMenu();
  lineEdit_ = MakeEdit(this, "LineEdit", board.line);
  lineEdit_->setPlaceholderText(QStringLiteral("/dev/ttyUSB0, COM1, socket://узел:порт"));
  addressSpin_ = new QSpinBox(this);
  addressSpin_->setObjectName(QStringLiteral("AddressSpin"));
  addressSpin_->setRange(-1, 127);
  addressSpin_->setSpecialValueText(QStringLiteral("без адреса"));
  addressSpin_->setValue(board.address);
  speedBox_ = MakeSpeedBox(this, "SpeedBox", board.speed);
  loadSpeedBox_ = MakeSpeedBox(this, "LoadSpeedBox", board.loadSpeed);

  modemBox_ = new QCheckBox(QStringLiteral("Через модем"), this);
  modemBox_->setObjectName(QStringLiteral("ModemBox"));
  modemBox_->setChecked(board.modem);
  dialEdit_ = MakeEdit(this, "DialEdit", board.dial);
  pulseBox_ = new QCheckBox(QStringLiteral("Импульсный набор"), this);
  pulseBox_->setObjectName(QStringLiteral("PulseBox"));
  pulseBox_->setChecked(board.pulse);
  initEdit_ = new QPlainTextEdit(this);
  initEdit_->setObjectName(QStringLiteral("InitEdit"));
  initEdit_->setTabChangesFocus(true);
  initEdit_->setPlaceholderText(QStringLiteral("пусто — как в файле настроек"));
  initEdit_->setFixedHeight(fontMetrics().lineSpacing() * 3 + 12);
  if (board.initLines) {
    QStringList lines;
    for (const auto& l : *board.initLines) lines << FromBoardText(l);
    initEdit_->setPlainText(lines.join(QLatin1Char('\n')));
  }
  modemPasswordEdit_ = MakeEdit(this, "ModemPasswordEdit", board.modemPassword.value_or(""));
  modemPasswordEdit_->setPlaceholderText(QStringLiteral("пусто — как в файле настроек"));
  passwordEdit_ = MakeEdit(this, "PasswordEdit", board.password);
  passwordEdit_->setPlaceholderText(QStringLiteral("пусто — без пароля"));
  iniEdit_ = MakeEdit(this, "IniEdit", board.ini);
  iniEdit_->setPlaceholderText(QStringLiteral("пусто — настройки редактора"));
  auto* iniButton = new QPushButton(QStringLiteral("Обзор..."), this);
  iniButton->setObjectName(QStringLiteral("IniButton"));
  noteEdit_ = MakeEdit(this, "NoteEdit", board.note);

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("&Имя:"), nameEdit_);
  auto* groupsRow = new QHBoxLayout;
  groupsRow->addWidget(groupsEdit_, 1);
  groupsRow->addWidget(groupsButton_);
  auto* groupsLabel = new QLabel(QStringLiteral("&Группы:"), this);
  groupsLabel->setBuddy(groupsEdit_);
  form->addRow(groupsLabel, groupsRow);
  form->addRow(QStringLiteral("&Линия:"), lineEdit_);
  form->addRow(QStringLiteral("&Адрес:"), addressSpin_);
  form->addRow(QStringLiteral("&Скорость линии:"), speedBox_);
  form->addRow(QStringLiteral("Скорость &загрузки:"), loadSpeedBox_);
  form->addRow(QString(), modemBox_);
  form->addRow(QStringLiteral("&Номер:"), dialEdit_);
  form->addRow(QString(), pulseBox_);
  form->addRow(QStringLiteral("Строки &настройки модема:"), initEdit_);
  form->addRow(QStringLiteral("Пароль на &модем:"), modemPasswordEdit_);
  form->addRow(QStringLiteral("&Пароль табло:"), passwordEdit_);
  auto* iniRow = new QHBoxLayout;
  iniRow->addWidget(iniEdit_, 1);
  iniRow->addWidget(iniButton);
  // A label made for a row that holds a layout gets no buddy and would show
  // its ampersand: this one is made with its field.
  auto* iniLabel = new QLabel(QStringLiteral("&Файл настроек:"), this);
  iniLabel->setBuddy(iniEdit_);
  form->addRow(iniLabel, iniRow);
  form->addRow(QStringLiteral("Прим&ечание:"), noteEdit_);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addLayout(MakeOkCancelRow(this));
  setMinimumWidth(520);

  connect(iniButton, &QPushButton::clicked, this, &TBoardEditForm::ChooseSettingsFile);
  connect(modemBox_, &QCheckBox::toggled, this, &TBoardEditForm::ModemToggled);
  ModemToggled();
  nameEdit_->setFocus();
}

fleet::BoardRecord TBoardEditForm::Record() const {
  fleet::BoardRecord b = original_;
  b.name = ToBoardText(nameEdit_->text().trimmed());
  b.groups = TypedGroups();
  b.line = ToBoardText(lineEdit_->text().trimmed());
  b.address = addressSpin_->value();
  b.speed = speedBox_->currentData().toInt();
  b.loadSpeed = loadSpeedBox_->currentData().toInt();
  b.modem = modemBox_->isChecked();
  b.dial = ToBoardText(dialEdit_->text().trimmed());
  b.pulse = pulseBox_->isChecked();
  const QString init = initEdit_->toPlainText().trimmed();
  if (init.isEmpty()) {
    b.initLines.reset();
  } else {
    b.initLines.emplace();
    for (const QString& l : init.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
      if (!l.trimmed().isEmpty()) b.initLines->push_back(ToBoardText(l.trimmed()));
  }
  if (modemPasswordEdit_->text().isEmpty()) b.modemPassword.reset();
  else b.modemPassword = ToBoardText(modemPasswordEdit_->text());
  b.password = ToBoardText(passwordEdit_->text());
  b.ini = ToBoardText(iniEdit_->text().trimmed());
  b.note = ToBoardText(noteEdit_->text());
  return b;
}

std::vector<std::string> TBoardEditForm::TypedGroups() const {
  std::vector<std::string> groups;
  QStringList seen;
  for (const QString& typed : groupsEdit_->text().split(QLatin1Char(','), Qt::SkipEmptyParts)) {
    QString group = typed.trimmed();
    if (group.isEmpty()) continue;
    for (const auto& known : knownGroups_)
      if (SameGroup(FromBoardText(known), group)) group = FromBoardText(known);
    if (std::any_of(seen.begin(), seen.end(), [&](const QString& g) { return SameGroup(g, group); }))
      continue;
    seen << group;
    groups.push_back(ToBoardText(group));
  }
  return groups;
}

void TBoardEditForm::FillGroupMenu() {
  QMenu* menu = groupsButton_->menu();
  menu->clear();
  const std::vector<std::string> chosen = TypedGroups();
  for (const auto& group : knownGroups_) {
    QAction* item = menu->addAction(FromBoardText(group));
    item->setCheckable(true);
    item->setChecked(std::find(chosen.begin(), chosen.end(), group) != chosen.end());
    connect(item, &QAction::toggled, this, [this, group](bool on) {
      std::vector<std::string> groups = TypedGroups();
      const auto at = std::find(groups.begin(), groups.end(), group);
      if (on && at == groups.end()) groups.push_back(group);
      if (!on && at != groups.end()) groups.erase(at);
      QStringList texts;
      for (const auto& g : groups) texts << FromBoardText(g);
      groupsEdit_->setText(texts.join(QStringLiteral(", ")));
    });
  }
}

void TBoardEditForm::done(int result) {
  if (result == QDialog::Accepted) {
    const QString lineError = PortNameError(ToBoardText(lineEdit_->text().trimmed()));
    if (!lineError.isEmpty()) {
      lineEdit_->setFocus();
      lineEdit_->selectAll();
      ShowError(lineError);
      return;
    }
    if (store_ && !store_(Record())) return;
  }
  QDialog::done(result);
}

void TBoardEditForm::ChooseSettingsFile() {
  std::string file = ToBoardText(iniEdit_->text());
  std::string folder;
  if (ChooseOpenFile(this, QStringLiteral("Файл настроек табло"),
                     QStringLiteral("Файлы настроек (*.ini)|*.ini|Все файлы|*.*"), folder, 0, file,
                     false, true))
    iniEdit_->setText(FromBoardText(file));
}

void TBoardEditForm::ModemToggled() {
  const bool modem = modemBox_->isChecked();
  for (QWidget* w : std::initializer_list<QWidget*>{dialEdit_, pulseBox_, initEdit_, modemPasswordEdit_})
    w->setEnabled(modem);
}

}  // namespace lentar::gui
