#pragma once

#include "store/IoError.h"

#include <QString>

#include <utility>

// The error's text, with a full stop added when its last character's code
// is above that of the full stop.
QString IoErrorReportText(const IoError& error);
// The error box: application title, error icon, the text above.
void ShowIoError(const IoError& error);
// The same for a file error's text as a failed change gives it.
void ShowErrorReport(const QString& errorText);

// Runs a handler body; a store error ends it and is reported here, since Qt
// lets no exception cross its event loop. Returns false when one was.
template <class Body> bool ReportingIoErrors(Body&& body)
{
    try {
        std::forward<Body>(body)();
        return true;
    } catch (const IoError& error) {
        ShowIoError(error);
        return false;
    }
}
