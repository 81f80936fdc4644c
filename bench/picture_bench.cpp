// Show Picture in the real window: the time from the command until the picture shows, for the
// file named, and the process's peak memory. On the offscreen platform unless a display is
// set; with HOLD_SECONDS the window stays open that long afterwards (for a screenshot).
//
// usage: vorn_picture_bench FILE [HOLD_SECONDS]

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QTableView>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>

#include "forms/check/check_form.h"
#include "forms/main/vorn_form.h"
#include "forms/picture/picture_form.h"
#include "forms/progress/progress_form.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: vorn_picture_bench FILE [HOLD_SECONDS]\n", stderr);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    TVornForm form;
    TCheckForm check(&form);
    TProgressForm progress(&form);
    form.AttachDialogs(&check, &progress);
    form.show();
    form.AddFiles({argv[1]});
    form.FileListView()->selectRow(0);
    QEventLoop settle;
    QTimer::singleShot(200, &settle, &QEventLoop::quit);
    settle.exec();

    const auto start = std::chrono::steady_clock::now();
    form.findChild<QAction*>("MenuShowPicture")->trigger();
    TPictureForm* const picture = form.PictureForm();
    QEventLoop shown;
    QObject::connect(picture, &TPictureForm::PictureShown, &shown, &QEventLoop::quit);
    shown.exec();
    // Until the window has painted it.
    picture->repaint();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("shown in %.3f s, decoded at %d x %d, peak memory %ld KB\n%s\n", seconds,
                picture->Picture().width(), picture->Picture().height(), usage.ru_maxrss,
                picture->InfoLabel()->text().toUtf8().constData());
    if (argc > 2) {
        QTimer::singleShot(std::atoi(argv[2]) * 1000, &application, &QApplication::quit);
        application.exec();
    }
    return 0;
}
