// Check Pictures in the real window (offscreen): the time of the run over the files of the
// folders named, best of the runs asked for, and the process's peak memory. Compare with
// `vorn-check --deep` on the same folders (bench/deep_check_bench.sh gets real photos).
//
// usage: vorn_pictures_bench RUNS FOLDER...

#include <QApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <vector>

#include "forms/check/check_form.h"
#include "forms/main/file_list_model.h"
#include "forms/main/vorn_form.h"
#include "forms/progress/progress_form.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: vorn_pictures_bench RUNS FOLDER...\n", stderr);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    TVornForm form;
    TCheckForm check(&form);
    TProgressForm progress(&form);
    form.AttachDialogs(&check, &progress);
    form.show();
    form.AddFiles(std::vector<std::string>(argv + 2, argv + argc));
    const int runs = std::atoi(argv[1]);
    double best = 1e30;
    for (int run = 0; run < runs; ++run) {
        const auto start = std::chrono::steady_clock::now();
        form.CheckPictures();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
        check.close();
    }
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("Check Pictures: %d files, best of %d %.3f s, peak %ld KiB\n",
                form.FileList()->Count(), runs, best, usage.ru_maxrss);
    return 0;
}
