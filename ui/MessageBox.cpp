#include "MessageBox.h"

#include "Placement.h"
#include "Terminate.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QShowEvent>

namespace {

// Qt places a message box with a guess at the window frame, which can leave
// its edge off the screen when the window it belongs to stands at a corner;
// it is placed again once it has its final size.
class PlacedMessageBox : public QMessageBox
{
public:
    using QMessageBox::QMessageBox;

protected:
    void showEvent(QShowEvent* event) override
    {
        QMessageBox::showEvent(event);
        if (!event->spontaneous())
            placeDialog(this);
    }
};

MessageBox::Script& activeScript()
{
    static MessageBox::Script script;
    return script;
}

QString titleFor(MessageBox::Kind kind)
{
    switch (kind) {
    case MessageBox::Kind::Warning:
        return QStringLiteral("Warning");
    case MessageBox::Kind::Error:
        return QStringLiteral("Error");
    case MessageBox::Kind::Information:
        return QStringLiteral("Information");
    case MessageBox::Kind::Confirmation:
        break;
    }
    return QStringLiteral("Confirm");
}

QMessageBox::Icon iconFor(MessageBox::Kind kind)
{
    switch (kind) {
    case MessageBox::Kind::Warning:
        return QMessageBox::Warning;
    case MessageBox::Kind::Error:
        return QMessageBox::Critical;
    case MessageBox::Kind::Information:
        return QMessageBox::Information;
    case MessageBox::Kind::Confirmation:
        break;
    }
    return QMessageBox::Question;
}

} // namespace

MessageBox::Button MessageBox::show(Kind kind, const QString& text, Buttons buttons)
{
    return show(kind, titleFor(kind), text, buttons);
}

MessageBox::Button MessageBox::show(Kind kind, const QString& title, const QString& text,
                                    Buttons buttons)
{
    if (activeScript())
        return activeScript()(Shown{kind, title, text, buttons});
    if (terminateRequested())
        return Button::Cancel;

    PlacedMessageBox box(iconFor(kind), title, text, QMessageBox::NoButton,
                         QApplication::activeWindow());
    // No message of this program is markup, yet many carry what people typed
    // or what a file beside the table says; Qt would render any of them that
    // looks like HTML as such.
    box.setTextFormat(Qt::PlainText);
    switch (buttons) {
    case Buttons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
        break;
    case Buttons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
        break;
    case Buttons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    }
    box.exec();

    // No button clicked means the box was cut short (a terminate request).
    switch (box.standardButton(box.clickedButton())) {
    case QMessageBox::Ok:
        return Button::Ok;
    case QMessageBox::Yes:
        return Button::Yes;
    case QMessageBox::No:
        return Button::No;
    default:
        return Button::Cancel;
    }
}

void MessageBox::setScript(Script script)
{
    activeScript() = std::move(script);
}
