#pragma once

struct ChangeResult;

// How every window tells the person what a change came to, so that the same
// result reads the same wherever it comes from.
//
// A change that was not made: a refusal's reason in an error box, a file
// fault in the application's error report (its title, the error icon, the
// error's text with a full stop added when its last character's code is
// above that of the full stop). A refusal because the signed-in user is
// gone is told by the main window, once; `signedOutTold` false has it told
// here too. A cancelled or reloaded change was the person's own choice and
// is not told. Returns whether the change was refused or failed.
bool showFailure(const ChangeResult& result, bool signedOutTold = true);
// A done change's warning (the table was brought up to date first, a step
// after the save failed) in a warning box; nothing when it has none.
void showWarning(const ChangeResult& result);
