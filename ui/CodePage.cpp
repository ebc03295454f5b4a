#include "CodePage.h"

#include "session/StoredText.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QValidator>

namespace {

bool storable(QChar c)
{
    return tableHolds(c.unicode());
}

class StorableValidator : public QValidator
{
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override
    {
        return isStorableText(input) ? Acceptable : Invalid;
    }
};

} // namespace

bool isStorableText(const QString& text)
{
    for (QChar c : text) {
        if (!storable(c))
            return false;
    }
    return true;
}

void restrictToStorable(QLineEdit* edit)
{
    edit->setValidator(new StorableValidator(edit));
}

void restrictToStorable(QPlainTextEdit* edit)
{
    // A memo has no validator: take back whatever could not be stored.
    QObject::connect(edit, &QPlainTextEdit::textChanged, edit, [edit] {
        const QString text = edit->toPlainText();
        if (isStorableText(text))
            return;
        QTextCursor cursor = edit->textCursor();
        int position = cursor.position();
        QString kept;
        for (int i = 0; i < text.size(); ++i) {
            if (storable(text[i]))
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
