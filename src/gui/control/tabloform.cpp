#include "gui/control/tabloform.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <memory>

#include "comm/boardprotocol.h"
#include "comm/boardupload.h"
#include "comm/portname.h"
#include "core/dates.h"
#include "core/folders.h"
#include "core/settings.h"
#include "core/streamrecord.h"
#include "core/textutil.h"
#include "gui/common/devicework.h"
#include "gui/common/dialogs.h"
#include "gui/common/formparts.h"
#include "gui/common/messages.h"
#include "gui/common/progressform.h"
#include "gui/common/windowplace.h"
#include "gui/control/boardport.h"
#include "gui/control/autobrightform.h"
#include "gui/control/dialform.h"
#include "gui/control/pswform.h"
#include "gui/markup/bankform.h"
#include "markup/fonts.h"
#include "markup/project.h"

namespace lentar::gui {

namespace {

const QString kNoValue = QStringLiteral("---");

// The lowest value of the brightness and speed boxes. One below it stands
// for "not read yet" and reads "---", so a box never shows a value the board
// did not give.
constexpr int kLowestSetting = 1;

void ShowUnreadSpin(QSpinBox* spin) {
  spin->setMinimum(kLowestSetting - 1);
  spin->setSpecialValueText(kNoValue);
  spin->setValue(kLowestSetting - 1);
  spin->setEnabled(false);
}

void ShowReadSpin(QSpinBox* spin, int value) {
  spin->setSpecialValueText(QString());
  spin->setMinimum(kLowestSetting);
  spin->setValue(value);
  spin->setEnabled(true);
}

}  // namespace

TTabloForm::TTabloForm(const uint8_t* image, size_t size, TRecProject& project,
                       comm::BoardSession& session, QWidget* parent)
    : QDialog(parent), image_(image), size_(image ? size : 0), project_(project), session_(session) {
  setObjectName(QStringLiteral("TabloForm"));
  setWindowTitle(QStringLiteral("Табло"));
  setModal(true);
  BuildControls();
  place_ = new TWindowPlace(*this, &TSettings::TabloCoor);
  work_ = std::make_unique<TDeviceWork>(this);
  work_->SetStop(&session_.Stop());
  connect(work_.get(), &TDeviceWork::started, this, [this] { EnableDeviceControls(false); });
  // A continuation may start the next step of the work (after a dialog):
  // the controls come back only once nothing runs.
  connect(work_.get(), &TDeviceWork::finished, this, [this] {
    if (!Busy()) EnableDeviceControls(true);
  });
}

TTabloForm::~TTabloForm() {
  // Work still running is stopped and waited for before the window goes.
  work_.reset();
  if (watchingLink_) session_.Port().SetLineStateHandler(nullptr);
}

bool TTabloForm::Busy() const { return work_->Busy(); }

void TTabloForm::reject() {
  if (Busy()) return;
  QDialog::reject();
}

void TTabloForm::closeEvent(QCloseEvent* event) {
  if (Busy()) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void TTabloForm::EnableDeviceControls(bool enabled) {
  // The groups carry their controls along; a control disabled on its own
  // (a value not read yet) stays disabled when its group comes back.
  for (QWidget* w : findChildren<QGroupBox*>(QString(), Qt::FindDirectChildrenOnly))
    w->setEnabled(enabled);
  for (QWidget* w : std::initializer_list<QWidget*>{addressSpin_, refreshButton_,
                                                    changePasswordButton_, closeButton_})
    w->setEnabled(enabled);
}

void TTabloForm::BuildControls() {
  // Address.
  addressSpin_ = MakeSpin(this, "SpinEdit3", -1, 127);
  auto* addressRow = new QHBoxLayout;
  addressRow->addWidget(MakeLabel(this, QStringLiteral("Адрес:"), "Label1"));
  addressRow->addWidget(addressSpin_);
  addressRow->addStretch(1);

  QGroupBox* settingsGroup = BuildSettingsGroup();
  QGroupBox* clockGroup = BuildClockGroup();
  QGroupBox* fontGroup = BuildFontGroup();
  QGroupBox* extraGroup = BuildExtraGroup();
  BuildUploadGroup();
  BuildModemGroup();

  // Bottom row.
  versionLabel_ = MakeLabel(this, QString(), "Label10");
  passwordLabel_ = MakeLabel(this, QString(), "Label11");
  refreshButton_ = MakeButton(this, QStringLiteral("Обновить"), "Button1");
  changePasswordButton_ = MakeButton(this, QStringLiteral("Сменить пароль"), "Button11");
  closeButton_ = MakeButton(this, QStringLiteral("Закрыть"), "Button6");

  auto* left = new QVBoxLayout;
  left->addLayout(addressRow);
  left->addWidget(settingsGroup);
  left->addWidget(fontGroup);
  left->addWidget(extraGroup);
  left->addStretch(1);
  auto* middle = new QVBoxLayout;
  middle->addWidget(clockGroup);
  middle->addWidget(modemGroup_);
  middle->addStretch(1);
  auto* right = new QVBoxLayout;
  right->addWidget(uploadGroup_);
  right->addStretch(1);
  auto* columns = new QHBoxLayout;
  columns->addLayout(left);
  columns->addLayout(middle);
  columns->addLayout(right);

  auto* info = new QVBoxLayout;
  info->addWidget(versionLabel_);
  info->addWidget(passwordLabel_);
  auto* bottom = new QHBoxLayout;
  bottom->addLayout(info, 1);
  bottom->addWidget(refreshButton_);
  bottom->addWidget(changePasswordButton_);
  bottom->addWidget(closeButton_);

  auto* top = new QVBoxLayout(this);
  top->addLayout(columns);
  top->addLayout(bottom);

  ShowStatusUnread();
  ShowOptionsUnread();
  ConnectControls();
}

// " Настройки ": brightness, speed and orientation.
QGroupBox* TTabloForm::BuildSettingsGroup() {
  auto* settingsGroup = MakeGroup(this, QStringLiteral(" Настройки "), "GroupBox1");
  brightnessSpin_ = MakeSpin(settingsGroup, "SpinEdit1", kLowestSetting, 10);
  speedSpin_ = MakeSpin(settingsGroup, "SpinEdit2", kLowestSetting, 5);
  flipBox_ = MakeCheck(settingsGroup, QStringLiteral("Перевернуть"), "CheckBox1");
  applyButton_ = MakeButton(settingsGroup, QStringLiteral("Установить"), "Button2");
  auto* settingsGrid = new QGridLayout(settingsGroup);
  settingsGrid->addWidget(MakeLabel(settingsGroup, QStringLiteral("Яркость:"), "Label2"), 0, 0);
  settingsGrid->addWidget(brightnessSpin_, 0, 1);
  settingsGrid->addWidget(MakeLabel(settingsGroup, QStringLiteral("Скорость:"), "Label3"), 1, 0);
  settingsGrid->addWidget(speedSpin_, 1, 1);
  settingsGrid->addWidget(flipBox_, 2, 0, 1, 2);
  settingsGrid->addWidget(applyButton_, 3, 0, 1, 2);
  return settingsGroup;
}

// " Часы ": the board's clock.
QGroupBox* TTabloForm::BuildClockGroup() {
  auto* clockGroup = MakeGroup(this, QStringLiteral(" Часы "), "GroupBox2");
  timeLabel_ = MakeLabel(clockGroup, kNoValue, "Label21");
  dateLabel_ = MakeLabel(clockGroup, kNoValue, "Label23");
  weekdayLabel_ = MakeLabel(clockGroup, kNoValue, "Label22");
  QFont big = timeLabel_->font();
  big.setPointSize(big.pointSize() + 4);
  big.setBold(true);
  timeLabel_->setFont(big);
  timeLabel_->setAlignment(Qt::AlignCenter);
  dateLabel_->setAlignment(Qt::AlignCenter);
  weekdayLabel_->setAlignment(Qt::AlignCenter);
  readClockButton_ = MakeButton(clockGroup, QStringLiteral("Считать"), "Button3");
  syncClockButton_ = MakeButton(clockGroup, QStringLiteral("Синхронизировать"), "Button4");
  auto* clockBox = new QVBoxLayout(clockGroup);
  clockBox->addWidget(timeLabel_);
  clockBox->addWidget(dateLabel_);
  clockBox->addWidget(weekdayLabel_);
  auto* clockButtons = new QHBoxLayout;
  clockButtons->addWidget(readClockButton_);
  clockButtons->addWidget(syncClockButton_);
  clockBox->addLayout(clockButtons);
  return clockGroup;
}

// " Шрифт ": the board's fonts and its default font.
QGroupBox* TTabloForm::BuildFontGroup() {
  auto* fontGroup = MakeGroup(this, QStringLiteral(" Шрифт "), "GroupBox3");
  // Until the board has been read (through a modem: until a call is up)
  // the values read "---", as the clock's do.
  currentFontLabel_ = MakeLabel(fontGroup, QStringLiteral("Текущий: ") + kNoValue, "Label9");
  fontCountLabel_ = MakeLabel(fontGroup, QStringLiteral("Всего: ") + kNoValue, "Label8");
  defaultFontEdit_ = MakeEdit(fontGroup, "Edit3");
  defaultFontEdit_->setMaximumWidth(60);
  chooseFontButton_ = MakeButton(fontGroup, QStringLiteral("Выб."), "Button10");
  setFontButton_ = MakeButton(fontGroup, QStringLiteral("Уст."), "Button9");
  auto* fontGrid = new QGridLayout(fontGroup);
  fontGrid->addWidget(currentFontLabel_, 0, 0, 1, 2);
  fontGrid->addWidget(fontCountLabel_, 0, 2, 1, 2);
  fontGrid->addWidget(MakeLabel(fontGroup, QStringLiteral("По умолч.:"), "Label7"), 1, 0);
  fontGrid->addWidget(defaultFontEdit_, 1, 1);
  fontGrid->addWidget(chooseFontButton_, 1, 2);
  fontGrid->addWidget(setFontButton_, 1, 3);
  return fontGroup;
}

// " Доп. установки ": automatic brightness.
QGroupBox* TTabloForm::BuildExtraGroup() {
  auto* extraGroup = MakeGroup(this, QStringLiteral(" Доп. установки "), "GroupBox4");
  autoBrightBox_ = MakeCheck(extraGroup, QStringLiteral("Автояркость"), "CheckBox2");
  setAutoBrightButton_ = MakeButton(extraGroup, QStringLiteral("Уст."), "Button12");
  autoBrightButton_ = MakeButton(extraGroup, QStringLiteral("Пар-ры автоярк."), "Button7");
  auto* extraGrid = new QGridLayout(extraGroup);
  extraGrid->addWidget(autoBrightBox_, 0, 0);
  extraGrid->addWidget(setAutoBrightButton_, 0, 1);
  extraGrid->addWidget(autoBrightButton_, 1, 0, 1, 2);
  return extraGroup;
}

// " Загрузка данных ": the buffers and the upload.
void TTabloForm::BuildUploadGroup() {
  uploadGroup_ = MakeGroup(this, QStringLiteral(" Загрузка данных "), "GroupBox5");
  bufferLabel_ = MakeLabel(uploadGroup_, QStringLiteral("Текущий буфер: ") + kNoValue, "Label4");
  positionLabel_ = MakeLabel(uploadGroup_, QStringLiteral("Позиция: ") + kNoValue, "Label6");
  sizeLabel_ = MakeLabel(uploadGroup_, QString(), "Label5");
  restartBox_ = MakeCheck(uploadGroup_, QStringLiteral("Рестарт после загрузки"), "CheckBox3");
  clearOnSwitchBox_ =
      MakeCheck(uploadGroup_, QStringLiteral("Очистка при переключении"), "CheckBox4");
  bufferCombo_ = MakeCombo(uploadGroup_, "ComboBox1", {QStringLiteral("1"), QStringLiteral("2")});
  fullRadio_ = MakeRadio(uploadGroup_, QStringLiteral("Полная"), "RadioButton2");
  fullRadio_->setChecked(true);
  resumeRadio_ = MakeRadio(uploadGroup_, QStringLiteral("Дозагрузка"), "RadioButton3");
  uploadButton_ = MakeButton(uploadGroup_, QStringLiteral("Загрузка"), "Button5");
  clearButton_ = MakeButton(uploadGroup_, QStringLiteral("Очистка"), "Button8");
  auto* uploadGrid = new QGridLayout(uploadGroup_);
  uploadGrid->addWidget(bufferLabel_, 0, 0, 1, 2);
  uploadGrid->addWidget(positionLabel_, 1, 0, 1, 2);
  uploadGrid->addWidget(sizeLabel_, 2, 0, 1, 2);
  uploadGrid->addWidget(restartBox_, 3, 0, 1, 2);
  uploadGrid->addWidget(clearOnSwitchBox_, 4, 0, 1, 2);
  auto* bufferRow = new QHBoxLayout;
  bufferRow->addWidget(MakeLabel(uploadGroup_, QStringLiteral("No. буфера:"), "Label12"));
  bufferRow->addWidget(bufferCombo_);
  bufferRow->addStretch(1);
  uploadGrid->addLayout(bufferRow, 5, 0, 1, 2);
  uploadGrid->addWidget(fullRadio_, 6, 0);
  uploadGrid->addWidget(resumeRadio_, 6, 1);
  uploadGrid->addWidget(uploadButton_, 7, 0);
  uploadGrid->addWidget(clearButton_, 7, 1);
}

// " Модем ": the call to the board.
void TTabloForm::BuildModemGroup() {
  modemGroup_ = MakeGroup(this, QStringLiteral(" Модем "), "GroupBox6");
  callButton_ = MakeButton(modemGroup_, QStringLiteral("Звонить"), "Button14");
  hangUpButton_ = MakeButton(modemGroup_, QStringLiteral("Повесить трубку"), "Button15");
  linkLabel_ = MakeLabel(modemGroup_, QStringLiteral("Нет соединения"), "Label13");
  auto* modemBox = new QGridLayout(modemGroup_);
  modemBox->addWidget(callButton_, 0, 0);
  modemBox->addWidget(hangUpButton_, 0, 1);
  modemBox->addWidget(linkLabel_, 1, 0, 1, 2);
}

void TTabloForm::ConnectControls() {
  connect(refreshButton_, &QPushButton::clicked, this, &TTabloForm::RefreshClick);
  connect(applyButton_, &QPushButton::clicked, this, &TTabloForm::ApplySettingsClick);
  connect(readClockButton_, &QPushButton::clicked, this, &TTabloForm::ReadClockClick);
  connect(syncClockButton_, &QPushButton::clicked, this, &TTabloForm::SyncClockClick);
  connect(uploadButton_, &QPushButton::clicked, this, &TTabloForm::UploadClick);
  connect(closeButton_, &QPushButton::clicked, this, &QDialog::accept);
  connect(autoBrightButton_, &QPushButton::clicked, this, &TTabloForm::AutoBrightSettingsClick);
  connect(clearButton_, &QPushButton::clicked, this, &TTabloForm::ClearBufferClick);
  connect(setFontButton_, &QPushButton::clicked, this, &TTabloForm::SetDefaultFontClick);
  connect(chooseFontButton_, &QPushButton::clicked, this, &TTabloForm::ChooseDefaultFontClick);
  connect(changePasswordButton_, &QPushButton::clicked, this, &TTabloForm::ChangePasswordClick);
  connect(setAutoBrightButton_, &QPushButton::clicked, this, &TTabloForm::SetAutoBrightClick);
  connect(callButton_, &QPushButton::clicked, this, &TTabloForm::CallClick);
  connect(hangUpButton_, &QPushButton::clicked, this, &TTabloForm::HangUpClick);
  connect(bufferCombo_, &QComboBox::currentIndexChanged, this, [this] {
    if (shownOnce_) UpdateResumeOffer();
  });
}

// ---- Show and hide ------------------------------------------------------------

void TTabloForm::showEvent(QShowEvent* event) {
  if (!shownOnce_) {
    shownOnce_ = true;
    FormShow();
  }
  QDialog::showEvent(event);
}

void TTabloForm::hideEvent(QHideEvent* event) {
  QDialog::hideEvent(event);
  if (shownOnce_ && !hidden_ && !event->spontaneous()) {
    hidden_ = true;
    FormHide();
  }
}

void TTabloForm::FormShow() {
  const TSettings& settings = Settings();
  addressSpin_->setValue(std::clamp<int>(settings.DevAddr, -1, 127));
  const bool modem = settings.UseModem;
  modemGroup_->setVisible(modem);
  UpdateResumeOffer();
  const bool hasImage = image_ != nullptr && size_ > 0;
  uploadButton_->setVisible(hasImage);
  sizeLabel_->setVisible(hasImage);
  if (hasImage)
    sizeLabel_->setText(QStringLiteral("Размер данных: %1 байт.").arg(static_cast<qulonglong>(size_)));
  adjustSize();
  // Where the operator left it last time (its size no smaller than its
  // controls need).
  place_->Restore();
  Refresh(false);
}

std::string TTabloForm::UploadPortName() const {
  return ModemMode() ? ModemPortDevice(Settings()) : BoardPortDevice(Settings());
}

void TTabloForm::UpdateResumeOffer() {
  // Through a modem both modes are always offered. On a direct line
  // "Дозагрузка" is offered while an interrupted upload of this very image
  // into the chosen buffer is noted.
  bool offered = ModemMode();
  if (!offered && image_ != nullptr && size_ > 0)
    offered = CheckResume(StreamRecordPath(SettingsFilePath()), UploadPortName(),
                          bufferCombo_->currentIndex(), image_, size_) == ResumeCheck::Same;
  if (!offered) fullRadio_->setChecked(true);
  fullRadio_->setVisible(offered);
  resumeRadio_->setVisible(offered);
}

comm::BufferChoice TTabloForm::AskBufferOnShow(int shown, int other) {
  const QString warning =
      QStringLiteral("Табло сейчас показывает буфер №%1. Загрузка в него сотрёт показываемый "
                     "набор: до конца загрузки табло будет пустым, а при обрыве связи так и "
                     "останется пустым.")
          .arg(shown + 1);
  if (other < 0) {
    const QMessageBox::StandardButton answer = OwnedMessageBox(
        this, QStringLiteral("Внимание"),
        warning + QStringLiteral("\n\nДругой буфер мал для этого набора. Загрузить в буфер №%1?")
                      .arg(shown + 1),
        QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Warning, QMessageBox::Cancel);
    return answer == QMessageBox::Ok ? comm::BufferChoice::Chosen : comm::BufferChoice::Cancel;
  }
  const QMessageBox::StandardButton answer = OwnedMessageBox(
      this, QStringLiteral("Внимание"),
      warning + QStringLiteral("\n\nЗагрузить набор в буфер №%1 и переключить табло на него "
                               "(«Рестарт после загрузки»), только когда весь набор будет "
                               "подтверждён? До тех пор табло показывает прежний набор.\n\n"
                               "«Да» — в буфер №%1, «Нет» — в буфер №%2, «Отмена» — не "
                               "загружать.")
                    .arg(other + 1)
                    .arg(shown + 1),
      QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Question,
      QMessageBox::Yes);
  if (answer == QMessageBox::Yes) {
    // The window shows where the set goes: "Дозагрузка" continues there.
    bufferCombo_->setCurrentIndex(other);
    return comm::BufferChoice::Other;
  }
  return answer == QMessageBox::No ? comm::BufferChoice::Chosen : comm::BufferChoice::Cancel;
}

void TTabloForm::FormHide() {
  session_.Port().SetLineStateHandler(nullptr);
  watchingLink_ = false;
}

// ---- Reading the board --------------------------------------------------------------

void TTabloForm::SetAddress() { session_.AddressByte = comm::AddressByteFor(addressSpin_->value()); }

bool TTabloForm::ModemMode() const { return Settings().UseModem; }

bool TTabloForm::LineUp() const { return LineUp(ModemMode()); }

bool TTabloForm::LineUp(bool modem) const {
  return !modem || (session_.Port().IsOpen() && session_.Port().DSRState());
}

bool TTabloForm::ModemAccess(bool modem) {
  if (!modem) return true;
  TDeviceWork* work = work_.get();
  return comm::CheckModemAccess(session_, [this, work]() -> std::optional<std::string> {
    return work->Ask<std::optional<std::string>>(
        [this]() -> std::optional<std::string> {
          QString password = FromBoardText(Settings().DefModemPass);
          if (!InputPassword(this, QStringLiteral("Пароль на модем"), QStringLiteral("Ввод:"),
                             password))
            return std::nullopt;
          return ToBoardText(password);
        },
        std::nullopt);
  });
}

void TTabloForm::RunBoardWork(std::function<void(BoardReading&)> work,
                              std::function<void(BoardReading&)> done) {
  auto reading = std::make_shared<BoardReading>();
  work_->Run([reading, work] { work(*reading); }, [reading, done] { done(*reading); });
}

void TTabloForm::ReadClock(BoardReading& reading, bool modem) {
  reading.clockAsked = true;
  if (!LineUp(modem)) {
    reading.lineDown = true;
    return;
  }
  reading.clockOk = ModemAccess(modem) && comm::CmdReadClock(session_, reading.clock);
}

void TTabloForm::ReadStatusPart(BoardReading& reading, bool modem) {
  reading.statusWanted = true;
  if (!LineUp(modem)) {
    reading.lineDown = true;
    return;
  }
  if (ModemAccess(modem)) ReadStatus(reading.status);
}

void TTabloForm::ShowReading(const BoardReading& reading) {
  if (reading.clockAsked) ShowClock(reading);
  if (reading.statusWanted) {
    if (reading.lineDown) {
      ShowStatusUnread();
      ShowOptionsUnread();
    } else if (reading.status.asked) {
      ShowStatus(reading.status);
    }
  }
}

void TTabloForm::ShowClock(const BoardReading& reading) {
  if (!reading.clockOk) {
    timeLabel_->setText(kNoValue);
    dateLabel_->setText(kNoValue);
    weekdayLabel_->setText(kNoValue);
    return;
  }
  const comm::BoardClock& clock = reading.clock;
  timeLabel_->setText(
      FromBoardText(FormatClockTime(clock.hour, clock.minute, clock.second, false, false)));
  dateLabel_->setText(FromBoardText(FormatLongDate(TDateRec{clock.day, clock.month, clock.year})));
  weekdayLabel_->setText(FromBoardText(WeekdayName(clock.dayOfWeek)));
}

void TTabloForm::Refresh(bool reportFailure) {
  if (Busy()) return;
  SetAddress();
  const bool modem = ModemMode();
  if (!LineUp(modem)) {
    // No call up: nothing to ask the board, nothing to complain about.
    BoardReading none;
    none.clockAsked = none.statusWanted = none.lineDown = true;
    ShowReading(none);
    return;
  }
  const std::string device = BoardPortDevice(Settings());
  const int baseSpeed = Settings().BaseSpeed;
  const int address = addressSpin_->value();
  TDeviceWork* work = work_.get();
  RunBoardWork(
      [this, modem, device, baseSpeed, address, reportFailure, work](BoardReading& r) {
        for (;;) {
          // A fresh attempt remembers only that the line had been lost.
          BoardReading attempt;
          attempt.lineLost = r.lineLost;
          attempt.lostText = r.lostText;
          r = attempt;
          if (!modem) ReopenLostLine(r, device, baseSpeed);
          if (r.reopenFailure.empty()) {
            ReadClock(r, modem);
            // The line may close under the request itself (the board's end
            // went away just now): opened again, the board is asked once more.
            if (!modem && !r.clockOk && !session_.Port().IsOpen()) {
              ReopenLostLine(r, device, baseSpeed);
              if (r.reopened) ReadClock(r, modem);
            }
            // A board that did not give its clock is not asked for the rest.
            if (r.clockOk || r.lineDown) ReadStatusPart(r, modem);
          }
          if (r.lineDown || (r.clockOk && r.status.statusOk)) return;
          // "Обновить" on a line that was not lost says "Ошибка соединения!"
          // as every button does; a window that opens on a silent board, or
          // a line that was lost, says what happened and offers another try.
          if (reportFailure && !r.lineLost) return;
          QString text;
          if (!r.reopenFailure.empty()) {
            text = QStringLiteral("Связь с табло потеряна, и порт не открывается.\n") +
                   FromBoardText(r.reopenFailure);
          } else if (r.lineLost && !r.clockOk) {
            text = QStringLiteral("Связь с табло была потеряна. Порт %1 открыт заново, но "
                                  "табло не ответило.")
                       .arg(FromBoardText(device));
          } else if (!r.clockOk) {
            text = QStringLiteral("Табло не ответило (порт %1, %2): часы и настройки не "
                                  "прочитаны, изменить их нельзя.")
                       .arg(FromBoardText(device),
                            address < 0 ? QStringLiteral("без адреса")
                                        : QStringLiteral("адрес %1").arg(address));
          } else {
            text = QStringLiteral("Табло не ответило на запрос настроек (порт %1): настройки не "
                                  "прочитаны, изменить их нельзя.")
                       .arg(FromBoardText(device));
          }
          text += QStringLiteral("\nПроверьте питание табло и кабель, а в настройках — порт "
                                 "и адрес.\n\nПовторить?");
          if (!work->Ask<bool>([this, text] { return AskRetry(text); }, false)) {
            r.retryDeclined = true;
            return;
          }
        }
      },
      [this, reportFailure, device](BoardReading& r) {
        // A line lost and not back: nothing on show is the board's any more.
        if (r.lineLost && !r.clockOk) r.clockAsked = r.statusWanted = r.status.asked = true;
        ShowReading(r);
        if (r.retryDeclined) return;  // the operator has read what happened
        if (r.lineLost && r.clockOk) {
          QString text = QStringLiteral("Связь с табло была потеряна");
          if (!r.lostText.empty()) text += QStringLiteral(" (%1)").arg(FromBoardText(r.lostText));
          ShowInfo(text + QStringLiteral(". Порт %1 открыт заново, табло отвечает.")
                              .arg(FromBoardText(device)));
          return;
        }
        if (reportFailure && !r.lineDown && !r.clockOk)
          ShowError(QStringLiteral("Ошибка соединения!"));
      });
}

void TTabloForm::ReopenLostLine(BoardReading& reading, const std::string& device, int baseSpeed) {
  comm::TComPort& port = session_.Port();
  if (port.IsOpen()) return;
  if (!reading.lineLost) {
    reading.lineLost = true;
    reading.lostText = port.LostText();
  }
  comm::BoardLinkOptions options;
  options.device = device;
  options.baseSpeed = baseSpeed;
  const comm::BoardLinkResult link = comm::OpenBoardLink(session_, options);
  reading.reopened = link.outcome == comm::BoardLinkOutcome::Open;
  if (reading.reopened) {
    reading.reopenFailure.clear();
  } else {
    reading.reopenFailure = link.outcome == comm::BoardLinkOutcome::PortFailed
                                ? PortErrorMessage(device, link.reason)
                                : link.text;
  }
}

bool TTabloForm::AskRetry(const QString& text) {
  return OwnedMessageBox(this, QStringLiteral("Табло не отвечает"), text,
                         QMessageBox::Retry | QMessageBox::Cancel, QMessageBox::Warning,
                         QMessageBox::Cancel) == QMessageBox::Retry;
}

void TTabloForm::ShowStatusUnread() {
  statusRead_ = false;
  ShowUnreadSpin(brightnessSpin_);
  ShowUnreadSpin(speedSpin_);
  flipBox_->setChecked(false);
  autoBrightBox_->setChecked(false);
  defaultFontEdit_->clear();
  fontCountLabel_->setText(QStringLiteral("Всего: ") + kNoValue);
  currentFontLabel_->setText(QStringLiteral("Текущий: ") + kNoValue);
  // Whatever writes a value the board mirrors waits for that value to be
  // read: writing the boxes' defaults would replace the board's own settings.
  for (QWidget* w : std::initializer_list<QWidget*>{flipBox_, applyButton_, autoBrightBox_,
                                                    setAutoBrightButton_, defaultFontEdit_,
                                                    chooseFontButton_, setFontButton_})
    w->setEnabled(false);
}

void TTabloForm::ShowOptionsUnread() {
  optionsRead_ = false;
  clearOnSwitchBox_->setChecked(false);
  clearOnSwitchBox_->setEnabled(false);
}

void TTabloForm::ReadStatus(StatusReading& reading) {
  reading.asked = true;
  reading.statusOk = comm::CmdReadStatus(session_, reading.status);
  if (!reading.statusOk) return;
  reading.bufferOk = comm::CmdReadBufferInfo(session_, reading.buffer);
  reading.versionOk = comm::CmdReadVersion(session_, reading.version);
  reading.optionsOk = comm::CmdReadOptions(session_, reading.options);
}

bool TTabloForm::ShowStatus(const StatusReading& reading) {
  if (!reading.statusOk) {
    ShowStatusUnread();
    ShowOptionsUnread();
    return false;
  }
  const comm::StatusBlock& status = reading.status;
  ShowReadSpin(speedSpin_, status.Speed());
  ShowReadSpin(brightnessSpin_, status.Brightness());
  flipBox_->setChecked(status.Flipped());
  fontCountLabel_->setText(QStringLiteral("Всего: %1").arg(status.FontCount()));
  defaultFontEdit_->setText(QString::number(status.DefaultFont()));
  currentFontLabel_->setText(QStringLiteral("Текущий: %1").arg(status.CurrentFont()));
  autoBrightBox_->setChecked(status.AutoBrightness());
  statusRead_ = true;
  for (QWidget* w : std::initializer_list<QWidget*>{flipBox_, applyButton_, autoBrightBox_,
                                                    setAutoBrightButton_, defaultFontEdit_,
                                                    chooseFontButton_, setFontButton_})
    w->setEnabled(true);
  passwordLabel_->setText(status.PasswordSet() ? QStringLiteral("Пароль: установлен")
                                               : QStringLiteral("Пароль: нет"));

  const comm::BufferInfo& info = reading.buffer;
  QString buffer = QStringLiteral("Текущий буфер: ");
  QString position = QStringLiteral("Позиция: ");
  if (!reading.bufferOk || info.DataLength() == 0) {
    buffer += kNoValue;
    position += kNoValue;
  } else {
    const long percent = std::lround(100.0 * info.Position() / info.DataLength());
    position += QStringLiteral("%1 (%2%)").arg(info.Position()).arg(percent);
    buffer += QString::number(info.CurrentBuffer() + 1);
  }
  bufferLabel_->setText(buffer);
  positionLabel_->setText(position);

  versionLabel_->setText(reading.versionOk
                             ? QStringLiteral("Версия ПО табло: ") + FromBoardText(reading.version)
                             : QString());
  if (reading.optionsOk) {
    clearOnSwitchBox_->setChecked(reading.options.ClearOnSwitch());
    clearOnSwitchBox_->setEnabled(true);
    optionsRead_ = true;
  } else {
    ShowOptionsUnread();
  }
  return true;
}

// ---- Buttons -------------------------------------------------------------------------

void TTabloForm::RefreshClick() { Refresh(true); }

void TTabloForm::ApplySettingsClick() {
  if (!statusRead_ || Busy()) return;
  SetAddress();
  const bool modem = ModemMode();
  const int speed = speedSpin_->value();
  const int brightness = brightnessSpin_->value();
  const bool flipped = flipBox_->isChecked();
  RunBoardWork(
      [this, modem, speed, brightness, flipped](BoardReading& r) {
        if (!comm::ApplyBoardSettings(session_, speed, brightness, flipped)) return;
        ReadStatusPart(r, modem);
        if (r.lineDown || r.status.statusOk) ReadClock(r, modem);
      },
      [this](BoardReading& r) { ShowReading(r); });
}

void TTabloForm::ReadClockClick() {
  if (Busy()) return;
  SetAddress();
  const bool modem = ModemMode();
  RunBoardWork([this, modem](BoardReading& r) { ReadClock(r, modem); },
               [this](BoardReading& r) { ShowReading(r); });
}

void TTabloForm::SyncClockClick() {
  if (Busy() || CallNeeded()) return;
  SetAddress();
  const bool modem = ModemMode();
  RunBoardWork(
      [this, modem](BoardReading& r) {
        comm::SetClockNow(session_);
        ReadClock(r, modem);
      },
      [this](BoardReading& r) { ShowReading(r); });
}

void TTabloForm::SetDefaultFontClick() {
  if (!statusRead_ || Busy()) return;
  SetAddress();
  const bool modem = ModemMode();
  const int64_t font = TextToInt(ToBoardText(defaultFontEdit_->text()));
  const int chosen = static_cast<int>(std::clamp<int64_t>(font, 0, 255));
  RunBoardWork(
      [this, modem, chosen](BoardReading& r) {
        comm::CmdSetDefaultFont(session_, chosen);
        ReadStatusPart(r, modem);
      },
      [this](BoardReading& r) { ShowReading(r); });
}

void TTabloForm::ChooseDefaultFontClick() {
  TTabFontList& bank = project_.Fonts();
  const int64_t start = TextToInt(ToBoardText(defaultFontEdit_->text()));
  const std::optional<int> chosen = ShowFontBank(
      this, bank, BankFormMode::Choose, static_cast<int>(std::clamp<int64_t>(start, 0, 255)));
  if (chosen) defaultFontEdit_->setText(QString::number(*chosen));
}

void TTabloForm::SetAutoBrightClick() {
  if (!statusRead_ || Busy()) return;
  SetAddress();
  const bool modem = ModemMode();
  const bool on = autoBrightBox_->isChecked();
  RunBoardWork(
      [this, modem, on](BoardReading& r) {
        comm::AutoBrightBlock block;
        if (comm::CmdReadAutoBright(session_, block)) {
          std::array<uint8_t, 6> settable = block.Settable();
          settable[0] = on ? 1 : 0;
          comm::CmdWriteAutoBright(session_, settable);
        }
        ReadStatusPart(r, modem);
      },
      [this](BoardReading& r) { ShowReading(r); });
}

void TTabloForm::AutoBrightSettingsClick() {
  if (Busy() || CallNeeded()) return;
  SetAddress();
  ShowAutoBrightDialog(this, session_);
}

void TTabloForm::ClearBufferClick() {
  if (Busy() || CallNeeded()) return;
  SetAddress();
  const int buffer = bufferCombo_->currentIndex();
  // Clearing wipes the set the buffer holds; when it is the buffer on show,
  // the board goes dark. Nothing is sent unless the operator agrees.
  if (!AskOkCancel(QStringLiteral("Очистить буфер №%1 табло? Набор в нём будет стёрт.")
                       .arg(buffer + 1),
                   QStringLiteral("Подтверждение"), true))
    return;
  const bool modem = ModemMode();
  RunBoardWork(
      [this, modem, buffer](BoardReading& r) {
        r.commandOk = comm::ClearBuffer(session_, buffer);
        if (r.commandOk) ReadStatusPart(r, modem);
      },
      [this, buffer](BoardReading& r) {
        if (!r.commandOk) {
          ShowError(QStringLiteral("Ошибка соединения!"));
          return;
        }
        ShowInfo(QStringLiteral("Буфер №%1 очищен!").arg(buffer + 1));
        ShowReading(r);
      });
}

void TTabloForm::ChangePasswordClick() {
  if (Busy() || CallNeeded()) return;
  SetAddress();
  std::string oldPassword;
  if (!ChoosePassword(this, Settings().Password, QStringLiteral("Выберите старый пароль"),
                      QStringLiteral("Старый пароль"), oldPassword, false))
    return;
  RunBoardWork(
      [this, oldPassword](BoardReading& r) {
        r.password = comm::CmdEnterPassword(session_, oldPassword);
      },
      [this](BoardReading& r) {
        if (!r.password.replied) return;
        if (!r.password.accepted) {
          OwnedMessageBox(this, QStringLiteral("Ошибка"), QStringLiteral("Введен неверный пароль"),
                          QMessageBox::Ok, QMessageBox::Critical);
          return;
        }
        SetNewPassword();
      });
}

void TTabloForm::SetNewPassword() {
  std::string newPassword;
  if (!ChoosePassword(this, Settings().Password, QStringLiteral("Выберите новый пароль"),
                      QStringLiteral("Новый пароль"), newPassword, true))
    return;
  const bool modem = ModemMode();
  RunBoardWork(
      [this, modem, newPassword](BoardReading& r) {
        r.password = comm::CmdSetPassword(session_, newPassword);
        if (r.password.replied && r.password.accepted) ReadStatusPart(r, modem);
      },
      [this](BoardReading& r) {
        if (r.password.replied && r.password.accepted)
          ShowReading(r);
        else
          OwnedMessageBox(this, QStringLiteral("Ошибка"), QStringLiteral("Ошибка установки пароля"),
                          QMessageBox::Ok, QMessageBox::Critical);
      });
}

bool TTabloForm::CallNeeded() {
  if (!ModemMode() || LineUp()) return false;
  // Through a modem nothing reaches the board before a call is up: say so at
  // once instead of waiting out the reply deadlines.
  ShowError(QStringLiteral("Нет соединения с табло. Сначала позвоните: кнопка \"Звонить\"."));
  return true;
}

void TTabloForm::UploadClick() {
  if (image_ == nullptr || size_ == 0 || Busy()) return;
  if (CallNeeded()) return;
  SetAddress();
  const TSettings& settings = Settings();
  comm::UploadOptions options;
  options.buffer = bufferCombo_->currentIndex();
  options.modem = settings.UseModem;
  // "Дозагрузка" is checked only while it is offered.
  options.full = !resumeRadio_->isChecked();
  // The board's clear-on-switch option is written only as it was read (and
  // perhaps changed by the operator), never from the box's default.
  if (optionsRead_) options.clearOnSwitch = clearOnSwitchBox_->isChecked();
  options.restart = restartBox_->isChecked();
  options.baseSpeed = settings.BaseSpeed;
  options.loadSpeed = settings.DLSpeed;
  // Uploads are noted beside the settings, so that "Дозагрузка" completes
  // only the image that was being sent.
  options.streamRecord = StreamRecordPath(SettingsFilePath());
  options.portName = UploadPortName();

  progress_ = std::make_unique<TProgressForm>(this);
  progress_->SetTitle(QStringLiteral("Загрузка..."));
  progress_->SetTotalBytes(size_);
  progress_->Follow(*work_);
  TProgressForm* gauge = progress_.get();
  TDeviceWork* work = work_.get();

  // The upload runs on the worker; whatever it asks or shows is done on the
  // window's thread while it waits.
  comm::UploadHooks hooks;
  hooks.progress = [work](int percent) { work->Progress(percent); };
  hooks.choosePassword = [this, work, passwords = settings.Password] {
    return work->Ask<std::optional<std::string>>(
        [this, passwords]() -> std::optional<std::string> {
          std::string password;
          if (!ChoosePassword(this, passwords, QStringLiteral("Выберите пароль"),
                              QStringLiteral("Пароль"), password, false))
            return std::nullopt;
          return password;
        },
        std::nullopt);
  };
  hooks.passwordRefused = [this, work] {
    work->Ask<bool>(
        [this] {
          OwnedMessageBox(this, QStringLiteral("Ошибка"), QStringLiteral("Введен неверный пароль"),
                          QMessageBox::Ok, QMessageBox::Critical);
          return true;
        },
        false);
  };
  hooks.bufferOnShow = [this, work](int shown, int other) {
    return work->Ask<comm::BufferChoice>([this, shown, other] { return AskBufferOnShow(shown, other); },
                                         comm::BufferChoice::Cancel);
  };
  hooks.transferStarts = [work, gauge] { work->Post([gauge] { gauge->ShowProgress(); }); };
  // Read while the line is still at the loading speed, shown at the end.
  auto reading = std::make_shared<StatusReading>();
  const bool modem = options.modem;
  hooks.succeeded = [this, reading, modem] {
    if (!modem) ReadStatus(*reading);
  };

  const uint8_t* image = image_;
  const size_t size = size_;
  work_->Run<comm::UploadReport>(
      [this, image, size, options, hooks] {
        return comm::UploadImage(session_, image, size, options, hooks);
      },
      [this, reading, modem](comm::UploadReport report) { UploadFinished(report, *reading, modem); });
}

void TTabloForm::UploadFinished(const comm::UploadReport& report, const StatusReading& reading,
                                bool modem) {
  progress_.reset();
  if (reading.asked) ShowStatus(reading);
  UpdateResumeOffer();
  if (report.resumable) resumeRadio_->setChecked(true);

  // Work the operator stopped is never reported as done, nor as a fault of
  // the line: "Прервано оператором", with the way to complete it when the
  // upload is noted.
  if (report.outcome != comm::UploadOutcome::Done &&
      report.outcome != comm::UploadOutcome::StartUnconfirmed &&
      report.outcome != comm::UploadOutcome::Interrupted && session_.StopRequested()) {
    ShowError(comm::InterruptedText());
    return;
  }
  switch (report.outcome) {
    case comm::UploadOutcome::Done: ShowInfo(QStringLiteral("Загрузка успешно завершена!")); break;
    case comm::UploadOutcome::StartUnconfirmed: {
      // The set is whole in its buffer, but the board never confirmed that
      // it shows it: not a success, in the engine's words (the fleet and
      // lentar-cli say the same).
      QString text = QStringLiteral("Набор загружен в буфер №%1, но %2.")
                         .arg(report.buffer + 1)
                         .arg(FromBoardText(report.text));
      if (reading.bufferOk && reading.buffer.DataLength() > 0)
        text += QStringLiteral("\nТабло показывает буфер №%1.")
                    .arg(reading.buffer.CurrentBuffer() + 1);
      else if (report.shownBuffer >= 0 && report.shownBuffer != report.buffer)
        text += QStringLiteral("\nТабло, возможно, по-прежнему показывает набор из буфера №%1.")
                    .arg(report.shownBuffer + 1);
      text += QStringLiteral("\nПовторите загрузку или проверьте табло.");
      ShowError(text);
      break;
    }
    case comm::UploadOutcome::BadImage:
    case comm::UploadOutcome::Cancelled:
      break;
    case comm::UploadOutcome::TransferFailed:
    case comm::UploadOutcome::Interrupted: {
      QString text = FromBoardText(comm::UploadFailureText(report.outcome));
      // An upload that broke off is noted: it need not start over.
      if (report.resumable)
        text += modem ? QStringLiteral("\nПозвоните снова и выберите \"Дозагрузка\": "
                                       "загрузка продолжится с места обрыва.")
                      : QStringLiteral("\nВыберите \"Дозагрузка\" и нажмите "
                                       "\"Загрузка\": загрузка продолжится с места "
                                       "обрыва.");
      if (report.shownBuffer >= 0 && report.shownBuffer != report.buffer)
        text += QStringLiteral("\nТабло по-прежнему показывает свой набор из буфера №%1.")
                    .arg(report.shownBuffer + 1);
      ShowError(text);
      break;
    }
    default:
      ShowError(comm::UploadFailureText(report.outcome));
      break;
  }
}

// ---- The modem -----------------------------------------------------------------------

void TTabloForm::CallClick() {
  if (Busy()) return;
  SetAddress();
  session_.Port().SetLineStateHandler(nullptr);
  watchingLink_ = false;
  const std::string device = ModemPortDevice(Settings());
  // A raw TCP port has no DTR and no DSR: the call could neither be seen to
  // come up nor be hung up. Refused before the modem hears a word.
  if (!comm::CarriesModemLines(device)) {
    ShowError(QStringLiteral("Порт модема %1 не передаёт сигналы модема (DTR, DSR): позвонить "
                             "через него нельзя. Укажите в настройках последовательный порт "
                             "или rfc2217://узел:порт.")
                  .arg(FromBoardText(device)));
    return;
  }
  // Opening a port behind a serial server may wait for the network.
  work_->Run<std::string>(
      [this, device]() -> std::string {
        comm::TComPort& port = session_.Port();
        port.Open(device);
        port.SetInterByteTimeout(700);
        if (port.IsOpen()) return {};
        return port.OpenFailed() || port.LostText().empty() ? port.LastErrorText()
                                                            : port.LostText();
      },
      [this](std::string failure) {
        if (!session_.Port().IsOpen()) {
          ShowError(failure);
          return;
        }
        Dial();
      });
}

void TTabloForm::Dial() {
  std::string number = project_.DialNumber;
  const bool connected = DialBoard(this, number, session_, timings_);
  project_.DialNumber = number;
  if (!connected) return;
  callButton_->setEnabled(false);
  // The modem has answered CONNECT: the label says so now, not only once the
  // board has been read and the line watch is in place.
  linkLabel_->setText(QStringLiteral("Соединение установлено"));
  const int settle = timings_.afterCallMs;
  const comm::StopFlag* stop = &session_.Stop();
  work_->Run(
      [this, settle, stop] {
        // The board's modem needs a moment after the call before the first
        // request; then the pace of streamed blocks is measured.
        if (!comm::PauseUnlessStopped(stop, settle)) return;
        int delay = 0;
        comm::MeasureLink(session_, delay);
      },
      [this] { CallConnected(); });
}

void TTabloForm::CallConnected() {
  Refresh(true);
  InstallLinkWatch();
  UpdateLinkLabel();
}
void TTabloForm::InstallLinkWatch() {
  shownDsr_ = -1;
  watchingLink_ = true;
  session_.Port().SetLineStateHandler([this](bool dsr, bool&) {
    // Carried to the interface thread only when the state changes.
    const int state = dsr ? 1 : 0;
    if (shownDsr_.exchange(state) == state) return;
    QMetaObject::invokeMethod(this, [this, dsr] { ShowLinkState(dsr); }, Qt::QueuedConnection);
  });
}

void TTabloForm::UpdateLinkLabel() {
  const bool dsr = session_.Port().DSRState();
  shownDsr_ = dsr ? 1 : 0;
  ShowLinkState(dsr);
}

void TTabloForm::ShowLinkState(bool dsr) {
  if (dsr) {
    linkLabel_->setText(QStringLiteral("Соединение установлено"));
  } else {
    linkLabel_->setText(QStringLiteral("Нет соединения"));
    callButton_->setEnabled(true);
  }
}

void TTabloForm::HangUpClick() {
  if (Busy()) return;
  work_->Run([this] { comm::HangUp(session_); }, [this] { callButton_->setEnabled(true); });
}

void ShowBoardWindow(QWidget* parent, const uint8_t* image, size_t size, TRecProject& project,
                     comm::BoardSession& session) {
  TTabloForm form(image, size, project, session, parent);
  form.exec();
}

}  // namespace lentar::gui
