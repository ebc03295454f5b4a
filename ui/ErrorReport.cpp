#include "ErrorReport.h"

#include "AppTitle.h"
#include "CodePage.h"
#include "MessageBox.h"

namespace {

QString ReportText(QString text)
{
    if (!text.isEmpty() && text.back().unicode() > u'.')
        text.append(QLatin1Char('.'));
    return text;
}

} // namespace

QString IoErrorReportText(const IoError& error)
{
    return ReportText(FromAnsi(IoErrorText(error.code())));
}

void ShowIoError(const IoError& error)
{
    ShowErrorReport(FromAnsi(IoErrorText(error.code())));
}

void ShowErrorReport(const QString& errorText)
{
    MessageBox::show(MessageBox::Kind::Error, ApplicationTitle(), ReportText(errorText),
                     MessageBox::Buttons::Ok);
}
