#include "gui/control/dialform.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "core/settings.h"
#include "gui/common/devicework.h"
#include "gui/common/formparts.h"
#include "gui/common/messages.h"

namespace lentar::gui {

TDialForm::TDialForm(comm::BoardSession& session, const std::string& number,
                     const comm::ModemTimings& timings, QWidget* parent)
    : QDialog(parent), session_(session), number_(number), timings_(timings) {
  setObjectName(QStringLiteral("DialForm"));
  setWindowTitle(QStringLiteral("Соединение..."));
  setModal(true);

  QGridLayout* fields = BuildFields();
  QHBoxLayout* buttons = BuildButtons();

  auto* top = new QVBoxLayout(this);
  top->addLayout(fields);
  top->addSpacing(6);
  top->addLayout(buttons);
  top->setSizeConstraint(QLayout::SetFixedSize);

  work_ = std::make_unique<TDeviceWork>(this);
  work_->SetStop(&session_.Stop());

  connect(dialButton_, &QPushButton::clicked, this, &TDialForm::DialClick);
  connect(abortButton_, &QPushButton::clicked, this, &TDialForm::InterruptClick);
  connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
}

// "Номер:" and "Статус:".
QGridLayout* TDialForm::BuildFields() {
  numberEdit_ = MakeEdit(this, "Edit1");
  numberEdit_->setMinimumWidth(200);
  statusLabel_ = MakeLabel(this, QStringLiteral("------"), "Label3");
  statusLabel_->setMinimumWidth(260);
  QLabel* numberCaption = MakeLabel(this, QStringLiteral("Номер:"), "Label1");
  QLabel* statusCaption = MakeLabel(this, QStringLiteral("Статус:"), "Label2");
  auto* fields = new QGridLayout;
  fields->addWidget(numberCaption, 0, 0);
  fields->addWidget(numberEdit_, 0, 1);
  fields->addWidget(statusCaption, 1, 0);
  fields->addWidget(statusLabel_, 1, 1);
  fields->setColumnStretch(1, 1);
  return fields;
}

// "Звонить", "Прервать" and "Отмена".
QHBoxLayout* TDialForm::BuildButtons() {
  // "Звонить" is the default button: Enter in "Номер:" dials.
  dialButton_ = MakeButton(this, QStringLiteral("Звонить"), "Button1", EnterKey::PressesFocused);
  dialButton_->setDefault(true);
  abortButton_ = MakeButton(this, QStringLiteral("Прервать"), "Button3");
  abortButton_->setEnabled(false);
  cancelButton_ = MakeButton(this, QStringLiteral("Отмена"), "Button2");
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(dialButton_);
  buttons->addWidget(abortButton_);
  buttons->addStretch(1);
  buttons->addWidget(cancelButton_);
  return buttons;
}

TDialForm::~TDialForm() {
  // The modem dialogue still running is stopped and waited for.
  work_.reset();
  // A dialog destroyed without being hidden (never shown) must not leave its
  // handler behind on the port.
  if (!hidden_) session_.Port().SetLineStateHandler(nullptr);
}

void TDialForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!shownOnce_) {
    shownOnce_ = true;
    FormShow();
  }
}

void TDialForm::hideEvent(QHideEvent* event) {
  QDialog::hideEvent(event);
  if (shownOnce_ && !hidden_ && !event->spontaneous()) {
    hidden_ = true;
    FormHide();
  }
}

void TDialForm::keyPressEvent(QKeyEvent* event) {
  // Esc is "Прервать", and only while there is something to abort.
  if (event->key() == Qt::Key_Escape) {
    if (abortButton_->isEnabled()) abortButton_->click();
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TDialForm::FormShow() {
  session_.Port().SetLineMode(true);
  numberEdit_->setText(FromBoardText(number_));
}

void TDialForm::FormHide() {
  dialling_ = false;
  number_ = ToBoardText(numberEdit_->text());
  session_.Port().SetLineMode(false);
  session_.Port().SetLineStateHandler(nullptr);
  if (connected_) session_.UseCallTimeouts();
  else comm::HangUp(session_);
}

void TDialForm::done(int result) {
  // The dialog stays while the modem is being set up: "Прервать" first.
  if (work_->Busy()) return;
  QDialog::done(result);
}

void TDialForm::DialClick() {
  if (work_->Busy()) return;
  const TSettings& settings = Settings();
  comm::DialRequest request;
  request.portConfigHex = settings.ModemConfig;
  request.initLines = settings.ModemInit;
  request.tone = settings.ToneDial != 0;
  request.number = ToBoardText(numberEdit_->text());
  statusLabel_->setText(QString());
  dialButton_->setEnabled(false);
  cancelButton_->setEnabled(false);
  // Resetting and initialising the modem takes its pauses: on the worker,
  // with "Прервать" at hand.
  abortButton_->setEnabled(true);
  const comm::ModemTimings timings = timings_;
  work_->Run<comm::DialStart>(
      [this, request, timings] { return comm::StartDial(session_, request, timings); },
      [this](comm::DialStart start) { DialStarted(start); });
}

void TDialForm::DialStarted(const comm::DialStart& start) {
  cancelButton_->setEnabled(true);
  if (work_->Interrupted()) {
    // Stopped while the modem was set up: it must not go on to call.
    session_.Port().SetDTR(false);
    ShowIdle(FromBoardText(comm::DialStatusAborted()));
    return;
  }
  if (!start.dialling) {
    ShowIdle(FromBoardText(start.status));
    return;
  }
  {
    std::lock_guard guard(lock_);
    dialling_ = true;
  }
  session_.Port().SetLineStateHandler([this](bool dsr, bool&) { OnLineState(dsr); });
  dialButton_->setEnabled(false);
  abortButton_->setEnabled(true);
  statusLabel_->setText(FromBoardText(start.status));
}

void TDialForm::InterruptClick() {
  if (work_->Busy()) {
    // The modem is still being set up: stopped once the current step is
    // over (DialStarted).
    abortButton_->setEnabled(false);
    work_->Interrupt();
    return;
  }
  {
    std::lock_guard guard(lock_);
    dialling_ = false;
  }
  session_.Port().SetLineStateHandler(nullptr);
  session_.Port().SetDTR(false);
  dialButton_->setEnabled(true);
  abortButton_->setEnabled(false);
  statusLabel_->setText(FromBoardText(comm::DialStatusAborted()));
}

void TDialForm::OnLineState(bool dsr) {
  if (!dialling_) return;
  std::lock_guard guard(lock_);
  if (!dialling_) return;
  const comm::DialCheck check = comm::CheckDial(session_, dsr);
  if (check.state == comm::DialCheck::Connected) {
    connected_ = true;
    dialling_ = false;
    // The dialog closes on its own thread; hiding it keeps the line up and
    // sets the call's deadlines.
    QMetaObject::invokeMethod(this, [this] { accept(); }, Qt::QueuedConnection);
  } else if (check.state == comm::DialCheck::Failed) {
    dialling_ = false;
    const QString status = FromBoardText(check.status);
    QMetaObject::invokeMethod(this, [this, status] { ShowIdle(status); }, Qt::QueuedConnection);
  }
}

void TDialForm::ShowIdle(const QString& status) {
  statusLabel_->setText(status);
  dialButton_->setEnabled(true);
  abortButton_->setEnabled(false);
}

bool DialBoard(QWidget* parent, std::string& number, comm::BoardSession& session,
               const comm::ModemTimings& timings) {
  TDialForm form(session, number, timings, parent);
  form.exec();
  number = form.Number();
  return form.Connected();
}

}  // namespace lentar::gui
