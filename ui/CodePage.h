#pragma once

#include <QString>
#include <string>
#include <string_view>

class QLineEdit;
class QPlainTextEdit;

// Windows-1252 bytes <-> Unicode. All 256 byte values round-trip; the five
// bytes Windows-1252 leaves undefined map to the control characters of the
// same code.
QString FromAnsi(std::string_view bytes);
// Characters Windows-1252 cannot hold become '?'.
std::string ToAnsi(const QString& text);
bool IsAnsiRepresentable(const QString& text);

// Makes an edit refuse characters that could not be stored unchanged.
void RestrictToAnsi(QLineEdit* edit);
void RestrictToAnsi(QPlainTextEdit* edit);
