#pragma once

#include <QString>

#include <functional>

// The program's modal message box. Every box goes through here so tests can
// answer them in advance and read back what was shown. Texts are shown as
// written, never as markup.
class MessageBox
{
public:
    enum class Kind
    {
        Warning,
        Error,
        Information,
        Confirmation
    };
    enum class Buttons
    {
        Ok,
        YesNo,
        YesNoCancel
    };
    enum class Button
    {
        Ok,
        Yes,
        No,
        Cancel // also: the box was closed without an answer
    };

    struct Shown
    {
        Kind kind;
        QString title;
        QString text;
        Buttons buttons;
    };

    // Titled "Warning", "Error", "Information" or "Confirm" by kind.
    static Button show(Kind kind, const QString& text, Buttons buttons = Buttons::Ok);
    static Button show(Kind kind, const QString& title, const QString& text, Buttons buttons);

    // Replaces the real box (tests). An empty function restores it.
    using Script = std::function<Button(const Shown&)>;
    static void setScript(Script script);
};
