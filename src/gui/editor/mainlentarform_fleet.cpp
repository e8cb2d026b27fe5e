// The main window's commands for many boards: the fleet window and the open
// set sent to a group. Both deliver the set as it stands in the editor, saved
// or not; the board window's single board is left as it is.
#include <QAction>

#include "gui/editor/mainlentarform.h"
#include "gui/fleet/fleetform.h"
#include "gui/fleet/groupdeliveryform.h"

namespace lentar::gui {

FleetSet TMainLentarForm::OpenSet() const { return FleetSet{SetText(), currentFile_, modified_}; }

void TMainLentarForm::FleetClick() {
  if (!fleetForm_) {
    auto* form = new TFleetForm(this, [this] { return OpenSet(); });
    form->setAttribute(Qt::WA_DeleteOnClose);
    if (!form->OpenRegister()) {
      delete form;
      return;
    }
    fleetForm_ = form;
  }
  fleetForm_->show();
  fleetForm_->raise();
  fleetForm_->activateWindow();
}

void TMainLentarForm::GroupDeliveryClick() {
  if (!groupDeliveryForm_) {
    auto* form = new TGroupDeliveryForm(this, [this] { return OpenSet(); });
    form->setAttribute(Qt::WA_DeleteOnClose);
    if (!form->OpenRegister()) {
      delete form;
      return;
    }
    groupDeliveryForm_ = form;
  }
  groupDeliveryForm_->show();
  groupDeliveryForm_->raise();
  groupDeliveryForm_->activateWindow();
}

}  // namespace lentar::gui
