#include "CodePage.h"

#include "session/TableText.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QValidator>

namespace {

// The byte for a character, or -1 when Windows-1252 cannot hold it.
int ansiByte(QChar c)
{
    return tableByte(c.unicode());
}

class AnsiValidator : public QValidator
{
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override
    {
        return isAnsiRepresentable(input) ? Acceptable : Invalid;
    }
};

} // namespace

QString fromAnsi(std::string_view bytes)
{
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        text.append(QChar(static_cast<char16_t>(tableCharacter(b))));
    }
    return text;
}

std::string toAnsi(const QString& text)
{
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(text.size()));
    for (QChar c : text) {
        const int b = ansiByte(c);
        bytes.push_back(static_cast<char>(b < 0 ? '?' : b));
    }
    return bytes;
}

bool isAnsiRepresentable(const QString& text)
{
    for (QChar c : text) {
        if (ansiByte(c) < 0)
            return false;
    }
    return true;
}

void restrictToAnsi(QLineEdit* edit)
{
    edit->setValidator(new AnsiValidator(edit));
}

void restrictToAnsi(QPlainTextEdit* edit)
{
    // A memo has no validator: take back whatever could not be stored.
    QObject::connect(edit, &QPlainTextEdit::textChanged, edit, [edit] {
        const QString text = edit->toPlainText();
        if (isAnsiRepresentable(text))
            return;
        QTextCursor cursor = edit->textCursor();
        int position = cursor.position();
        QString kept;
        for (int i = 0; i < text.size(); ++i) {
            if (ansiByte(text[i]) >= 0)
                kept.append(text[i]);
            else if (i < cursor.position())
                --position;
        }
        edit->setPlainText(kept);
        cursor = edit->textCursor();
        cursor.setPosition(qBound(0, position, static_cast<int>(kept.size())));
        edit->setTextCursor(cursor);
    });
}
