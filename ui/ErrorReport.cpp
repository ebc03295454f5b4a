#include "ErrorReport.h"

#include "AppTitle.h"
#include "CodePage.h"
#include "MessageBox.h"

QString IoErrorReportText(const IoError& error)
{
    QString text = FromAnsi(IoErrorText(error.code()));
    if (!text.isEmpty() && text.back().unicode() > u'.')
        text.append(QLatin1Char('.'));
    return text;
}

void ShowIoError(const IoError& error)
{
    MessageBox::show(MessageBox::Kind::Error, ApplicationTitle(), IoErrorReportText(error),
                     MessageBox::Buttons::Ok);
}
