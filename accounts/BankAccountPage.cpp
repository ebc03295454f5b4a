#include "admin/MainForm.h"

// Stand-ins until the Bank Account page is written.

void TMainForm::bindAccountPage() {}

void TMainForm::RefreshAccoList() {}

void TMainForm::UpdateButtons() {}

void TMainForm::AccoTypeListBoxClick() {}

void TMainForm::NewAccoBtnClick() {}

void TMainForm::ModifyAccoBtnClick() {}

void TMainForm::DelAccoBtnClick() {}
