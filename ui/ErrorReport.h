#pragma once

#include "session/Session.h"

#include <QString>

#include <optional>
#include <utility>

// The text of the file error of code `code`, with a full stop added when
// its last character's code is above that of the full stop.
QString IoErrorReportText(int code);
// The error box: application title, error icon, the text above.
void ShowIoError(int code);
// The same for a file error's text as a failed change gives it.
void ShowErrorReport(const QString& errorText);

// Runs a handler body; a store error ends it and is reported here, since Qt
// lets no exception cross its event loop. Returns false when one was.
template <class Body> bool ReportingIoErrors(Body&& body)
{
    const std::optional<Session::FileFault> fault =
        Session::fileFaultOf([&] { std::forward<Body>(body)(); });
    if (fault)
        ShowIoError(fault->code);
    return !fault;
}
