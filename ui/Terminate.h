#pragma once

class QDialog;

// The application's terminate request: the message loop ends at its next
// turn, and every modal dialog or box that runs or is started afterwards
// returns at once as cancelled.
void RequestTerminate();
bool TerminateRequested();
void ResetTerminateRequest(); // for tests

// Runs a dialog modally unless a terminate request is pending.
// Returns the dialog's result, QDialog::Rejected when cut short.
int ExecModal(QDialog& dialog);
