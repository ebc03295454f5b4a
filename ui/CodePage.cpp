#include "CodePage.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QValidator>

namespace {

// Windows-1252 0x80..0x9F. The five codes it leaves undefined (0x81, 0x8D,
// 0x8F, 0x90, 0x9D) map to the C1 control of the same code so that every
// byte survives a round trip.
constexpr char16_t HighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The byte for a character, or -1 when Windows-1252 cannot hold it.
int ansiByte(QChar c)
{
    const char16_t u = c.unicode();
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF))
        return u;
    for (int i = 0; i < 32; ++i) {
        if (HighControls[i] == u)
            return 0x80 + i;
    }
    return -1;
}

class AnsiValidator : public QValidator
{
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override
    {
        return IsAnsiRepresentable(input) ? Acceptable : Invalid;
    }
};

} // namespace

QString FromAnsi(std::string_view bytes)
{
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        text.append(b >= 0x80 && b < 0xA0 ? QChar(HighControls[b - 0x80]) : QChar(b));
    }
    return text;
}

AnsiString ToAnsi(const QString& text)
{
    AnsiString bytes;
    bytes.reserve(static_cast<std::size_t>(text.size()));
    for (QChar c : text) {
        const int b = ansiByte(c);
        bytes.push_back(static_cast<char>(b < 0 ? '?' : b));
    }
    return bytes;
}

bool IsAnsiRepresentable(const QString& text)
{
    for (QChar c : text) {
        if (ansiByte(c) < 0)
            return false;
    }
    return true;
}

void RestrictToAnsi(QLineEdit* edit)
{
    edit->setValidator(new AnsiValidator(edit));
}

void RestrictToAnsi(QPlainTextEdit* edit)
{
    // A memo has no validator: take back whatever could not be stored.
    QObject::connect(edit, &QPlainTextEdit::textChanged, edit, [edit] {
        const QString text = edit->toPlainText();
        if (IsAnsiRepresentable(text))
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
