#pragma once
// The application's exception report: an exception that escapes an event handler is shown in a
// message box with an error icon and OK, titled by the application's title, and the program
// goes on.

#include <QObject>
#include <QString>

#include <exception>
#include <functional>

// Reports the exception currently being handled (call it inside a catch block).
void ReportException(QObject* sender);
// Reports `error` (a null pointer reports nothing).
void ReportException(QObject* sender, std::exception_ptr error);

// The title and text the report shows for an exception.
QString ExceptionReportTitle();
QString ExceptionReportText(std::exception_ptr error);
