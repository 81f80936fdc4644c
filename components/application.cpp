#include "components/application.h"

#include <exception>

#include "components/exception_report.h"

TApplication::TApplication(int& argc, char** argv)
    : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    std::exception_ptr error;
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        error = std::current_exception();
    }
    // Reported outside the handler: the report runs an event loop of its own.
    ReportException(receiver, error);
    return false;
}
