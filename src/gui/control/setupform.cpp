#include "gui/control/setupform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>
#include <limits>
#include <optional>
#include <system_error>

#include "comm/boardprotocol.h"
#include "comm/boardsearch.h"
#include "comm/comport.h"
#include "comm/portname.h"
#include "core/paths.h"
#include "core/textutil.h"
#include "fleet/lineuse.h"
#include "gui/common/devicework.h"
#include "gui/common/dialogbuttons.h"
#include "gui/common/dialogs.h"
#include "gui/common/filedialogs.h"
#include "gui/common/formparts.h"
#include "gui/common/messages.h"
#include "gui/common/settingsstore.h"
#include "gui/common/placement.h"
#include "gui/control/boardport.h"
#include "gui/control/modeminitform.h"
#include "gui/control/portconfigform.h"
#include "gui/control/searchform.h"
#include "gui/markup/bankform.h"
#include "gui/markup/setcolorform.h"
#include "markup/fonts.h"
#include "markup/project.h"

namespace lentar::gui {

namespace {

constexpr int kBoardComCount = 32;   // "COM1".."COM32" for the board
constexpr int kOtherComCount = 8;    // "COM1".."COM8" for the loader and the modem
constexpr int kDefaultLoaderSpeed = 3;  // 38400 bit/s
const char* const kSpeeds[] = {"9600", "19200", "28800", "38400", "57600"};
constexpr int kSpeedCount = 5;
// Between the path and the description of a listed device.
const QString kDeviceSeparator = QStringLiteral(" — ");

QComboBox* MakeComList(QWidget* parent, const char* objectName, int count) {
  QComboBox* box = MakeCombo(parent, objectName);
  for (int i = 1; i <= count; ++i) box->addItem(QStringLiteral("COM%1").arg(i));
  return box;
}

QComboBox* MakeSpeedList(QWidget* parent, const char* objectName) {
  QComboBox* box = MakeCombo(parent, objectName);
  for (const char* speed : kSpeeds) box->addItem(QLatin1String(speed));
  return box;
}

// In this dialog Enter presses the focused button, as in any Qt dialog; "OK"
// is pressed by Enter elsewhere.
constexpr EnterKey kEnter = EnterKey::PressesFocused;

void SelectIfValid(QComboBox* box, int index) {
  if (index >= 0 && index < box->count()) box->setCurrentIndex(index);
}

int SpeedIndexOr(int value, int fallback) {
  return value >= 0 && value < kSpeedCount ? value : fallback;
}

int32_t ToInt32(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

// The device of "COMn" (0-based index) when that device exists here.
std::string ExistingDeviceOfCom(int comIndex) {
  TSettings probe;
  probe.TabPort = comIndex;
  const std::string device = BoardPortDevice(probe);
  std::error_code ec;
  if (device.empty() || !std::filesystem::exists(NativePath(device), ec)) return {};
  return device;
}

// Where the search looks, in order; tests replace it.
std::function<std::vector<comm::SearchCandidate>()>& CandidateSource() {
  static std::function<std::vector<comm::SearchCandidate>()> source;
  return source;
}

QFont FontOfSettings(const std::string& name, int32_t size, int32_t style) {
  QFont font(FromBoardText(name));
  if (size > 0) font.setPointSize(size);
  font.setBold(style & 1);
  font.setItalic(style & 2);
  font.setUnderline(style & 4);
  font.setStrikeOut(style & 8);
  return font;
}

}  // namespace

void SetBoardSearchCandidateSource(std::function<std::vector<comm::SearchCandidate>()> source) {
  CandidateSource() = std::move(source);
}

TSetupForm::TSetupForm(TRecProject& project, QWidget* parent)
    : QDialog(parent), project_(project) {
  setObjectName(QStringLiteral("SetupForm"));
  setWindowTitle(QStringLiteral("Настройки"));
  work_ = std::make_unique<TDeviceWork>(this);
  work_->SetStop(&searchSession_.Stop());
  pages_ = new QTabWidget(this);
  pages_->setObjectName(QStringLiteral("PageControl1"));
  pages_->addTab(CreateSystemPage(), QStringLiteral("Системные"));
  pages_->addTab(CreateBoardPage(), QStringLiteral("Опции табло"));

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(pages_);
  layout->addLayout(MakeOkCancelRow(this));
  LoadControls();
}

QComboBox* TSetupForm::MakeDeviceField(const char* objectName) {
  auto* box = new QComboBox;
  box->setObjectName(QLatin1String(objectName));
  box->setEditable(true);
  box->setInsertPolicy(QComboBox::NoInsert);
  box->setMinimumContentsLength(24);
  box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  box->lineEdit()->setPlaceholderText(QStringLiteral("по номеру COM"));
  box->setToolTip(QStringLiteral(
      "Устройство порта: выберите из списка или введите путь (/dev/ttyUSB0),\n"
      "socket://узел:порт или rfc2217://узел:порт. Пусто — по номеру COM."));
  box->addItem(QString(), QString());
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
    const QString device = info.systemLocation();
    QString text = device;
    if (!info.description().isEmpty()) text += kDeviceSeparator + info.description();
    box->addItem(text, device);
  }
  return box;
}

QWidget* TSetupForm::CreateSystemPage() {
  auto* page = new QWidget;
  QGroupBox* boardGroup = CreateBoardPortGroup(page);
  QGroupBox* loaderGroup = CreateLoaderPortGroup(page);
  QGroupBox* modemGroup = CreateModemGroup(page);

  auto* speedsButton =
      MakeButton(page, QStringLiteral("Настр. скоростей при эмуляции"), "Button7", kEnter);
  auto* fontButton = MakeButton(page, QStringLiteral("Шрифт"), "Button5", kEnter);
  connect(speedsButton, &QPushButton::clicked, this, &TSetupForm::EditEmulationSpeeds);
  connect(fontButton, &QPushButton::clicked, this, &TSetupForm::ChooseEditorFont);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(speedsButton);
  bottom->addStretch(1);
  bottom->addWidget(fontButton);

  auto* layout = new QVBoxLayout(page);
  layout->addWidget(boardGroup);
  layout->addWidget(loaderGroup);
  layout->addWidget(modemGroup);
  layout->addLayout(bottom);
  layout->addStretch(1);
  return page;
}

// " Порт табло ": the board's port, speeds and address.
QGroupBox* TSetupForm::CreateBoardPortGroup(QWidget* page) {
  auto* boardGroup = MakeGroup(page, QStringLiteral(" Порт табло "));
  boardPortBox_ = MakeComList(boardGroup, "ComboBox1", kBoardComCount);
  boardDeviceBox_ = MakeDeviceField("BoardDeviceBox");
  loadSpeedBox_ = MakeSpeedList(boardGroup, "ComboBox5");
  linkSpeedBox_ = MakeSpeedList(boardGroup, "ComboBox8");
  addressSpin_ = MakeSpin(boardGroup, "SpinEdit11", -1, 127);
  searchButton_ = MakeButton(boardGroup, QStringLiteral("Поиск"), "Button12", kEnter);
  connect(searchButton_, &QPushButton::clicked, this, &TSetupForm::SearchBoard);
  auto* boardGrid = new QGridLayout(boardGroup);
  boardGrid->addWidget(boardPortBox_, 0, 0);
  boardGrid->addWidget(boardDeviceBox_, 0, 1, 1, 3);
  boardGrid->addWidget(new QLabel(QStringLiteral("Загрузка:")), 1, 0);
  boardGrid->addWidget(loadSpeedBox_, 1, 1);
  boardGrid->addWidget(new QLabel(QStringLiteral("Связь:")), 1, 2);
  boardGrid->addWidget(linkSpeedBox_, 1, 3);
  boardGrid->addWidget(new QLabel(QStringLiteral("Адрес:")), 2, 0);
  boardGrid->addWidget(addressSpin_, 2, 1);
  boardGrid->addWidget(searchButton_, 2, 3);
  return boardGroup;
}

// " Порт загрузчика / картриджа ".
QGroupBox* TSetupForm::CreateLoaderPortGroup(QWidget* page) {
  auto* loaderGroup = MakeGroup(page, QStringLiteral(" Порт загрузчика / картриджа "));
  loaderPortBox_ = MakeComList(loaderGroup, "ComboBox2", kOtherComCount);
  loaderDeviceBox_ = MakeDeviceField("LoaderDeviceBox");
  loaderSpeedBox_ = MakeSpeedList(loaderGroup, "ComboBox6");
  auto* loaderGrid = new QGridLayout(loaderGroup);
  loaderGrid->addWidget(loaderPortBox_, 0, 0);
  loaderGrid->addWidget(loaderDeviceBox_, 0, 1, 1, 3);
  loaderGrid->addWidget(new QLabel(QStringLiteral("Скорость:")), 1, 0);
  loaderGrid->addWidget(loaderSpeedBox_, 1, 1);
  return loaderGroup;
}

// " Модем ": its port, the number and the modem's own settings.
QGroupBox* TSetupForm::CreateModemGroup(QWidget* page) {
  auto* modemGroup = MakeGroup(page, QStringLiteral(" Модем "));
  modemPortBox_ = MakeComList(modemGroup, "ComboBox4", kOtherComCount);
  modemDeviceBox_ = MakeDeviceField("ModemDeviceBox");
  dialNumberEdit_ = MakeEdit(modemGroup, "Edit1");
  toneDialBox_ = MakeCheck(modemGroup, QStringLiteral("Тоновый набор номера"), "CheckBox2");
  useModemBox_ = MakeCheck(modemGroup, QStringLiteral("Использовать модем"), "CheckBox3");
  auto* portSetupButton = MakeButton(modemGroup, QStringLiteral("Настройки порта"), "Button9", kEnter);
  auto* initButton = MakeButton(modemGroup, QStringLiteral("Инициализация"), "Button10", kEnter);
  auto* passwordButton = MakeButton(modemGroup, QStringLiteral("Пароль"), "Button11", kEnter);
  connect(portSetupButton, &QPushButton::clicked, this, &TSetupForm::ConfigureModemPort);
  connect(initButton, &QPushButton::clicked, this, &TSetupForm::EditModemStrings);
  connect(passwordButton, &QPushButton::clicked, this, &TSetupForm::EditModemPassword);
  auto* modemGrid = new QGridLayout(modemGroup);
  modemGrid->addWidget(new QLabel(QStringLiteral("Порт:")), 0, 0);
  modemGrid->addWidget(modemPortBox_, 0, 1);
  modemGrid->addWidget(modemDeviceBox_, 0, 2, 1, 2);
  modemGrid->addWidget(new QLabel(QStringLiteral("Номер дозвона:")), 1, 0);
  modemGrid->addWidget(dialNumberEdit_, 1, 1, 1, 3);
  modemGrid->addWidget(toneDialBox_, 2, 0, 1, 2);
  modemGrid->addWidget(useModemBox_, 2, 2, 1, 2);
  auto* modemButtons = new QHBoxLayout;
  modemButtons->addWidget(portSetupButton);
  modemButtons->addWidget(initButton);
  modemButtons->addWidget(passwordButton);
  modemGrid->addLayout(modemButtons, 3, 0, 1, 4);
  return modemGroup;
}

QWidget* TSetupForm::CreateBoardPage() {
  auto* page = new QWidget;
  defaultFontEdit_ = MakeEdit(page, "Edit4");
  auto* chooseFontButton = MakeButton(page, QStringLiteral("Выбрать"), "Button6", kEnter);
  connect(chooseFontButton, &QPushButton::clicked, this, &TSetupForm::ChooseDefaultFont);
  fontHeightBox_ = MakeCombo(page, "ComboBox7");
  for (const char* rows : {"8", "16", "24", "32"}) fontHeightBox_->addItem(QLatin1String(rows));
  fontArchiveEdit_ = MakeEdit(page, "Edit6");
  fontArchiveEdit_->setMinimumWidth(280);
  auto* archiveButton = MakeButton(page, QStringLiteral("Выб."), "Button8", kEnter);
  connect(archiveButton, &QPushButton::clicked, this, &TSetupForm::ChooseFontArchive);
  channelsSpin_ = MakeSpin(page, "SpinEdit9", 1, 8);
  auto* coloursButton = MakeButton(page, QStringLiteral("Цвета"), "Button1", kEnter);
  connect(coloursButton, &QPushButton::clicked, this, &TSetupForm::EditColours);

  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(QStringLiteral("Шрифт по умолчанию:")), 0, 0);
  grid->addWidget(defaultFontEdit_, 0, 1);
  grid->addWidget(chooseFontButton, 0, 2);
  grid->addWidget(new QLabel(QStringLiteral("Высота шрифта:")), 1, 0);
  grid->addWidget(fontHeightBox_, 1, 1);
  grid->addWidget(new QLabel(QStringLiteral("Шрифтовой набор:")), 2, 0);
  grid->addWidget(fontArchiveEdit_, 2, 1);
  grid->addWidget(archiveButton, 2, 2);
  grid->addWidget(new QLabel(QStringLiteral("Каналов/пикс:")), 3, 0);
  grid->addWidget(channelsSpin_, 3, 1);
  grid->addWidget(coloursButton, 3, 2);

  auto* sizeGroup = MakeGroup(page, QStringLiteral(" Размер данных "));
  dataSizeEdit_ = MakeEdit(sizeGroup, "Edit5");
  (new QVBoxLayout(sizeGroup))->addWidget(dataSizeEdit_);
  auto* lengthGroup = MakeGroup(page, QStringLiteral(" Длина табло "));
  lengthSpin_ = MakeSpin(lengthGroup, "SpinEdit8", 8, 2016);
  (new QVBoxLayout(lengthGroup))->addWidget(lengthSpin_);
  auto* groups = new QHBoxLayout;
  groups->addWidget(sizeGroup);
  groups->addWidget(lengthGroup);

  auto* layout = new QVBoxLayout(page);
  layout->addLayout(grid);
  layout->addLayout(groups);
  layout->addStretch(1);
  return page;
}

// ---- Loading and storing ------------------------------------------------------

namespace {

void LoadDevice(QComboBox* field, const std::string& device) {
  const QString text = FromBoardText(device);
  const int listed = text.isEmpty() ? 0 : field->findData(text);
  if (listed >= 0) {
    field->setCurrentIndex(listed);
  } else {
    field->setCurrentIndex(-1);
    field->setEditText(text);
  }
}

}  // namespace

void TSetupForm::LoadControls() {
  const TSettings& s = Settings();
  SelectIfValid(boardPortBox_, s.TabPort);
  LoadDevice(boardDeviceBox_, s.TabPortDevice);
  loadSpeedBox_->setCurrentIndex(SpeedIndexOr(s.DLSpeed, 0));
  linkSpeedBox_->setCurrentIndex(SpeedIndexOr(s.BaseSpeed, 0));
  addressSpin_->setValue(s.DevAddr);
  SelectIfValid(loaderPortBox_, s.I2CPort);
  LoadDevice(loaderDeviceBox_, s.I2CPortDevice);
  loaderSpeedBox_->setCurrentIndex(SpeedIndexOr(s.LdSpeed, kDefaultLoaderSpeed));
  SelectIfValid(modemPortBox_, s.ModemPort);
  LoadDevice(modemDeviceBox_, s.ModemPortDevice);
  dialNumberEdit_->setText(FromBoardText(s.DialNo));
  toneDialBox_->setChecked(s.ToneDial != 0);
  useModemBox_->setChecked(s.UseModem);
  modemConfig_ = s.ModemConfig;
  modemInit_ = s.ModemInit;
  modemPassword_ = s.DefModemPass;
  speeds_ = s.SpeedDefs;
  fontName_ = s.FontName;
  fontSize_ = s.FontSize;
  fontStyle_ = s.FontStyle;
  fontCharSet_ = s.FontCharSet;

  defaultFontEdit_->setText(QString::number(s.DefFont));
  SelectIfValid(fontHeightBox_, s.DefFontHeight - 1);
  fontArchiveEdit_->setText(FromBoardText(s.DefFontArc));
  channelsSpin_->setValue(s.ColorChannelCount);
  colours_ = s.ChannelColors;
  dataSizeEdit_->setText(QString::number(s.OutDataSize));
  lengthSpin_->setValue(s.DispLen);
}

void TSetupForm::StoreControls() {
  TSettings& s = Settings();
  s.TabPort = boardPortBox_->currentIndex();
  s.TabPortDevice = DeviceOfField(boardDeviceBox_);
  s.DLSpeed = loadSpeedBox_->currentIndex();
  s.BaseSpeed = linkSpeedBox_->currentIndex();
  s.DevAddr = addressSpin_->value();
  s.I2CPort = loaderPortBox_->currentIndex();
  s.I2CPortDevice = DeviceOfField(loaderDeviceBox_);
  s.LdSpeed = loaderSpeedBox_->currentIndex();
  s.ModemPort = modemPortBox_->currentIndex();
  s.ModemPortDevice = DeviceOfField(modemDeviceBox_);
  s.DialNo = ToBoardText(dialNumberEdit_->text());
  s.ToneDial = toneDialBox_->isChecked() ? 1 : 0;
  s.UseModem = useModemBox_->isChecked();
  s.ModemConfig = modemConfig_;
  s.ModemInit = modemInit_;
  s.DefModemPass = modemPassword_;
  s.SpeedDefs = speeds_;
  s.FontName = fontName_;
  s.FontSize = fontSize_;
  s.FontStyle = fontStyle_;
  s.FontCharSet = fontCharSet_;

  s.DefFont = ToInt32(TextToInt(ToBoardText(defaultFontEdit_->text())));
  s.DefFontHeight = fontHeightBox_->currentIndex() + 1;
  s.DefFontArc = ToBoardText(fontArchiveEdit_->text());
  s.ColorChannelCount = channelsSpin_->value();
  s.ChannelColors = colours_;
  s.OutDataSize = ToInt32(TextToInt(ToBoardText(dataSizeEdit_->text())));
  s.DispLen = lengthSpin_->value();
  ClampSettings(s);
}

std::string TSetupForm::DeviceOfField(const QComboBox* field) {
  const QString text = field->currentText().trimmed();
  const int index = field->currentIndex();
  if (index >= 0 && field->itemText(index).trimmed() == text) {
    return ToBoardText(field->itemData(index).toString());
  }
  // A listed entry typed or pasted with its description.
  const int separator = text.indexOf(kDeviceSeparator);
  return ToBoardText(separator > 0 ? text.left(separator).trimmed() : text);
}

bool TSetupForm::DeviceFieldsValid() {
  for (QComboBox* field : {boardDeviceBox_, loaderDeviceBox_, modemDeviceBox_}) {
    const QString error = PortNameError(DeviceOfField(field));
    if (!error.isEmpty()) {
      pages_->setCurrentIndex(0);
      field->setFocus();
      ShowError(error);
      return false;
    }
  }
  return true;
}

TSetupForm::~TSetupForm() = default;

void TSetupForm::showEvent(QShowEvent* event) {
  if (!stored_) RestoreWindowPosition(*this, Settings().SetCoor);
  QDialog::showEvent(event);
}

void TSetupForm::done(int result) {
  if (!pages_->isEnabled()) return;  // a search is running
  if (result == QDialog::Accepted && !DeviceFieldsValid()) return;
  if (!stored_) {
    stored_ = true;
    if (isVisible()) Settings().SetCoor = WindowGeometryRect(*this);
    StoreControls();
  }
  QDialog::done(result);
}

// ---- Buttons ---------------------------------------------------------------------

void TSetupForm::ChooseDefaultFont() {
  TTabFontList& bank = project_.Fonts();
  const int start = ToInt32(TextToInt(ToBoardText(defaultFontEdit_->text())));
  if (const std::optional<int> chosen = ShowFontBank(this, bank, BankFormMode::Choose, start)) {
    defaultFontEdit_->setText(QString::number(*chosen));
  }
}

void TSetupForm::ChooseFontArchive() {
  std::string file = ToBoardText(fontArchiveEdit_->text().trimmed());
  if (ChooseOpenFile(this, QStringLiteral("Выберите файл набора шрифтов"),
                     QStringLiteral("Наборы шрифтов (*.tfa)|*.tfa|Все файлы|*.*"),
                     Settings().LastFontDir, 0, file, false, true)) {
    fontArchiveEdit_->setText(FromBoardText(file));
  }
}

void TSetupForm::EditColours() { EditChannelColours(this, channelsSpin_->value(), colours_); }

void TSetupForm::EditEmulationSpeeds() {
  QStringList values;
  for (int32_t speed : speeds_) values << QString::number(speed);
  if (!InputValues(this, QStringLiteral("Скорости, пикс/сек"),
                   QStringLiteral("1-я скорость\r2-я скорость\r3-я скорость\r4-я скорость\r"
                                  "5-я скорость"),
                   70, values, 1)) {
    return;
  }
  for (size_t i = 0; i < speeds_.size() && i < static_cast<size_t>(values.size()); ++i) {
    speeds_[i] = ToInt32(TextToInt(ToBoardText(values[static_cast<int>(i)])));
  }
}

void TSetupForm::ChooseEditorFont() {
  bool ok = false;
  const QFont chosen = QFontDialog::getFont(&ok, FontOfSettings(fontName_, fontSize_, fontStyle_),
                                            this, QStringLiteral("Шрифт"));
  if (!ok) return;
  fontName_ = ToBoardText(chosen.family());
  if (chosen.pointSize() > 0) fontSize_ = chosen.pointSize();
  fontStyle_ = (chosen.bold() ? 1 : 0) | (chosen.italic() ? 2 : 0) |
               (chosen.underline() ? 4 : 0) | (chosen.strikeOut() ? 8 : 0);
}

void TSetupForm::ConfigureModemPort() {
  TSettings probe = Settings();
  probe.ModemPort = modemPortBox_->currentIndex();
  probe.ModemPortDevice = DeviceOfField(modemDeviceBox_);
  comm::TComPort& port = searchSession_.Port();
  port.Open(ModemPortDevice(probe));
  if (!port.IsOpen()) {
    ShowError(port.OpenFailed() || port.LostText().empty() ? port.LastErrorText()
                                                           : port.LostText());
    CloseBoardPort(searchSession_);
    return;
  }
  if (!modemConfig_.empty()) port.ConfigFromHex(modemConfig_);
  if (ConfigDialog(port, this)) modemConfig_ = port.ConfigToHex();
  CloseBoardPort(searchSession_);
}

void TSetupForm::EditModemStrings() { EditModemInit(this, modemInit_); }

void TSetupForm::EditModemPassword() {
  QString text = FromBoardText(modemPassword_);
  if (InputPassword(this, QStringLiteral("Пароль на модем"), QStringLiteral("Ввод:"), text)) {
    modemPassword_ = ToBoardText(text);
  }
}

// ---- The search for a board ----------------------------------------------------

void TSetupForm::SearchBoard() {
  if (work_->Busy()) return;
  CloseBoardPort(searchSession_);
  if (!AskOkCancel(QStringLiteral("Поиск может занять продолжительное время! Продолжить?"),
                   QStringLiteral("Внимание"), true)) {
    return;
  }
  const std::vector<comm::SearchCandidate> candidates = comm::TypedDeviceFirst(
      CandidateSource() ? CandidateSource()()
                        : comm::BoardSearchCandidates(searchSession_.Port().AvailablePorts(),
                                                      kBoardComCount, ExistingDeviceOfCom),
      DeviceOfField(boardDeviceBox_));
  const int rememberedIndex = boardPortBox_->currentIndex();
  pages_->setEnabled(false);
  for (QPushButton* button : findChildren<QPushButton*>(QString(), Qt::FindDirectChildrenOnly)) {
    button->setEnabled(false);
  }

  // The ports are probed on the worker; the dialog and the search window
  // keep answering, and "Прервать" ends the search after the current port.
  auto progress = std::make_shared<TSearchForm>(static_cast<int>(candidates.size()), this);
  progress->setWindowModality(Qt::NonModal);
  connect(progress.get(), &TSearchForm::abortRequested, work_.get(), &TDeviceWork::Interrupt);
  progress->show();
  auto nameOf = [](const comm::SearchCandidate& c) {
    return c.comIndex >= 0 ? QStringLiteral("COM%1").arg(c.comIndex + 1)
                           : FromBoardText(c.device);
  };
  TDeviceWork* work = work_.get();
  const comm::StopFlag* stop = &searchSession_.Stop();
  TSearchForm* window = progress.get();
  comm::BoardSearchHooks hooks;
  hooks.beforeProbe = [this, work, stop, window, candidates, nameOf](size_t i) {
    if (stop->Requested()) return false;
    const comm::SearchCandidate c = candidates[i];
    work->Post([this, window, c, i, nameOf] {
      if (c.comIndex >= 0 && c.comIndex < boardPortBox_->count()) {
        boardPortBox_->setCurrentIndex(c.comIndex);
      }
      const QString device = FromBoardText(c.device);
      window->ShowPort(static_cast<int>(i), c.comIndex >= 0
                                                ? nameOf(c) + QStringLiteral(" (") + device + ')'
                                                : device);
    });
    return true;
  };
  // Each port is taken before it is probed, as a delivery takes a line: a
  // line another program is on (a delivery, a sweep) is passed over and
  // named once the search is done.
  struct SearchLines {
    std::unique_ptr<fleet::LineUse> held;
    std::vector<std::string> busy;
  };
  auto lines = std::make_shared<SearchLines>();
  hooks.takeLine = [lines, candidates, registerAddress = Settings().FleetDatabase](size_t i) {
    fleet::LineUseOptions lineOptions;
    lineOptions.registerAddress = registerAddress;
    lineOptions.wait = false;
    std::string why;
    bool busy = false;
    lines->held = fleet::LineUse::Take(candidates[i].device, lineOptions, nullptr, {}, why, busy);
    if (busy) lines->busy.push_back(why);
    // A lock that cannot be made at all does not keep the port from the
    // search: the operator's own folder is said to be unusable elsewhere.
    return lines->held != nullptr || !busy;
  };
  hooks.releaseLine = [lines](size_t) { lines->held.reset(); };
  // The search's own pauses end at the session's stop flag.
  comm::BoardSearchOptions options;
  options.rateIndex = linkSpeedBox_->currentIndex() + 3;
  options.timings = searchTimings_;
  work_->Run<comm::BoardSearchResult>(
      [this, candidates, options, hooks] {
        return comm::SearchBoard(searchSession_, candidates, options, hooks);
      },
      [this, progress, candidates, rememberedIndex, nameOf, lines](comm::BoardSearchResult result) {
        progress->hide();
        pages_->setEnabled(true);
        for (QPushButton* button :
             findChildren<QPushButton*>(QString(), Qt::FindDirectChildrenOnly)) {
          button->setEnabled(true);
        }
        CloseBoardPort(searchSession_);
        if (result.outcome == comm::BoardSearchOutcome::Found && result.index >= 0) {
          const comm::SearchCandidate& c = candidates[static_cast<size_t>(result.index)];
          if (c.comIndex >= 0) {
            boardPortBox_->setCurrentIndex(c.comIndex);
            boardDeviceBox_->setCurrentIndex(0);  // the number's own device
          } else {
            boardPortBox_->setCurrentIndex(rememberedIndex);
            LoadDevice(boardDeviceBox_, c.device);
          }
          ShowInfo(QStringLiteral("Табло обнаружено на порту ") + nameOf(c));
        } else {
          // "Табло не обнаружено!", or "Прервано оператором" for a search
          // the operator stopped.
          boardPortBox_->setCurrentIndex(rememberedIndex);
          std::string text = result.text;
          for (const std::string& busy : lines->busy) text += "\n" + busy;
          ShowError(text);
        }
      });
}

// ---- ShowSettings ------------------------------------------------------------

bool ShowSettings(QWidget* parent, TRecProject& project, int page) {
  const TSettings saved = Settings();
  bool accepted = false;
  {
    TSetupForm form(project, parent);
    auto* pages = form.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
    if (pages && page >= 0 && page < pages->count()) pages->setCurrentIndex(page);
    accepted = form.exec() == QDialog::Accepted;
  }
  if (accepted) {
    project.LoadFromSettings(Settings());
    if (!project.LoadFonts()) ShowError(project.FontError);
  } else {
    Settings() = saved;
  }
  ClampSettings(Settings());
  // Accepted settings reach the file at once: lentar-cli run beside the
  // editor compiles and delivers with them.
  if (accepted) WriteSettingsNow();
  return accepted;
}

}  // namespace lentar::gui
