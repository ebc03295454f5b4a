#pragma once

class QDialog;

// The application's terminate request: the message loop ends at its next
// turn, and every modal dialog or box that runs or is started afterwards
// returns at once as cancelled.
void requestTerminate();
bool terminateRequested();
void resetTerminateRequest(); // for tests

// Runs a dialog modally unless a terminate request is pending.
// Returns the dialog's result, QDialog::Rejected when cut short.
int execModal(QDialog& dialog);
