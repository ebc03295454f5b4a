#pragma once

#include <QString>
#include <string>
#include <string_view>

class QLineEdit;
class QPlainTextEdit;

// Windows-1252 bytes <-> Unicode. All 256 byte values round-trip; the five
// bytes Windows-1252 leaves undefined map to the control characters of the
// same code.
QString fromAnsi(std::string_view bytes);
// Characters Windows-1252 cannot hold become '?'.
std::string toAnsi(const QString& text);
bool isAnsiRepresentable(const QString& text);

// Makes an edit refuse characters that could not be stored unchanged.
void restrictToAnsi(QLineEdit* edit);
void restrictToAnsi(QPlainTextEdit* edit);
