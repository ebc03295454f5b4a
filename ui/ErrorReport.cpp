#include "ErrorReport.h"

#include "AppTitle.h"
#include "MessageBox.h"

#include "session/Session.h"

namespace {

QString reportText(QString text)
{
    if (!text.isEmpty() && text.back().unicode() > u'.')
        text.append(QLatin1Char('.'));
    return text;
}

} // namespace

bool showFailure(const ChangeResult& result, bool signedOutTold)
{
    switch (result.outcome) {
    case ChangeResult::Outcome::Refused:
        if (result.reason != ChangeResult::Reason::SignedOut || !signedOutTold)
            MessageBox::show(MessageBox::Kind::Error, QString::fromStdString(result.message),
                             MessageBox::Buttons::Ok);
        return true;
    case ChangeResult::Outcome::Failed:
        MessageBox::show(MessageBox::Kind::Error, applicationTitle(),
                         reportText(QString::fromStdString(result.message)),
                         MessageBox::Buttons::Ok);
        return true;
    case ChangeResult::Outcome::Done:
    case ChangeResult::Outcome::Cancelled:
    case ChangeResult::Outcome::Reloaded:
        break;
    }
    return false;
}

void showWarning(const ChangeResult& result)
{
    if (!result.warning.empty())
        MessageBox::show(MessageBox::Kind::Warning, QString::fromStdString(result.warning));
}
