// Show Picture in the real window: the time from the command until the picture shows, for the
// file named, and the process's peak memory. With --grow=WxH the picture window is then resized
// to W × H and the time until the larger decode shows is measured too. On the offscreen platform
// unless a display is set; with HOLD_SECONDS the window stays open that long afterwards (for a
// screenshot).
//
// usage: vorn_picture_bench FILE [--grow=WxH] [HOLD_SECONDS]

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
#include <string_view>
#include <sys/resource.h>

#include "forms/check/check_form.h"
#include "forms/main/vorn_form.h"
#include "forms/picture/picture_form.h"
#include "forms/progress/progress_form.h"

namespace {

long PeakKilobytes() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: vorn_picture_bench FILE [--grow=WxH] [HOLD_SECONDS]\n", stderr);
        return 2;
    }
    int growWidth = 0;
    int growHeight = 0;
    const char* hold = nullptr;
    for (int i = 2; i < argc; ++i) {
        const std::string_view argument(argv[i]);
        if (argument.starts_with("--grow=")) {
            if (std::sscanf(argv[i] + 7, "%dx%d", &growWidth, &growHeight) != 2) {
                std::fputs("--grow takes WxH, such as 1200x900\n", stderr);
                return 2;
            }
        } else {
            hold = argv[i];
        }
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
    std::printf("shown in %.3f s, decoded at %d x %d, peak memory %ld KB\n%s\n", seconds,
                picture->Picture().width(), picture->Picture().height(), PeakKilobytes(),
                picture->InfoLabel()->text().toUtf8().constData());
    if (growWidth > 0) {
        // From the resize: the wait after the last resize is part of what a user sees.
        const auto grown = std::chrono::steady_clock::now();
        picture->resize(growWidth, growHeight);
        QEventLoop better;
        QObject::connect(picture, &TPictureForm::PictureShown, &better, &QEventLoop::quit);
        QTimer::singleShot(10000, &better, &QEventLoop::quit);
        better.exec();
        picture->repaint();
        std::printf("grown to %d x %d: shown again in %.3f s, decoded at %d x %d, peak memory "
                    "%ld KB\n",
                    growWidth, growHeight,
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - grown).count(),
                    picture->Picture().width(), picture->Picture().height(), PeakKilobytes());
    }
    if (hold != nullptr) {
        QTimer::singleShot(std::atoi(hold) * 1000, &application, &QApplication::quit);
        application.exec();
    }
    return 0;
}
