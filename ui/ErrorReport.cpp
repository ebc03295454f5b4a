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

QString IoErrorReportText(int code)
{
    return ReportText(FromAnsi(Session::fileErrorText(code)));
}

void ShowIoError(int code)
{
    ShowErrorReport(FromAnsi(Session::fileErrorText(code)));
}

void ShowErrorReport(const QString& errorText)
{
    MessageBox::show(MessageBox::Kind::Error, ApplicationTitle(), ReportText(errorText),
                     MessageBox::Buttons::Ok);
}
