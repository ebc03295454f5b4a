#pragma once

// The windows name "Arial" and "MS Sans Serif", which many systems lack.
// Where they are missing, their texts are set in Liberation Sans (or Arimo,
// the same design): it has Arial's metrics, and the MS Sans Serif texts fit
// the boxes laid out for them, where the usual fallback is wider and clips.
// Installed Arial or MS Sans Serif still comes first. What names no font of
// its own (message boxes, pickers, tool tips) gets the dialogs' MS Sans
// Serif 8. Call once, right after the application object exists; it only
// records names, no font is loaded.
void useFontFallbacks();
