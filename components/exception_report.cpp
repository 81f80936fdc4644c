#include "components/exception_report.h"

#include <QMessageBox>

#include "components/display_text.h"
#include "core/os/executable_path.h"
#include "core/program/error_texts.h"

namespace {

// What the report says about an exception that is no std::exception.
constexpr char kUnknownExceptionText[] = "不明な例外が発生しました。";

} // namespace

QString ExceptionReportTitle() {
    return DisplayText(vorn::ApplicationTitle(vorn::ExecutablePath()));
}

QString ExceptionReportText(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return DisplayText(vorn::ReportText(e.what()));
    } catch (...) {
        return QString::fromUtf8(kUnknownExceptionText);
    }
}

void ReportException(QObject* sender) {
    ReportException(sender, std::current_exception());
}

void ReportException(QObject* sender, std::exception_ptr error) {
    (void)sender;
    if (!error) {
        return;
    }
    // No parent: the report stands on its own, usable whatever state the main window is in
    // (locked by a dialog, or already gone).
    QMessageBox box(QMessageBox::Critical, ExceptionReportTitle(), ExceptionReportText(error),
                    QMessageBox::Ok);
    // A message may hold a file name, which can look like markup: it is shown as it is.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}
