#pragma once

#include <QString>

class QLineEdit;
class QPlainTextEdit;

// Whether the table can hold every character of `text` as it is.
bool isStorableText(const QString& text);

// Makes an edit refuse characters that could not be stored unchanged.
void restrictToStorable(QLineEdit* edit);
void restrictToStorable(QPlainTextEdit* edit);
