#pragma once
// What the tests of the main window's runs and commands share: the real main window with its two
// real dialogs, files made in a temporary folder, and a probe that runs at every event processing
// of a run.

#include <QPointer>

#include "forms/check/check_form.h"
#include "forms/main/file_list_model.h"
#include "forms/main/vorn_form.h"
#include "forms/progress/progress_form.h"
#include "tests/support/run_probe.h"
#include "tests/support/temp_tree.h"

// The main window, shown, with its dialogs attached, as the program's entry makes them.
struct Forms {
    Forms() {
        form = new TVornForm;
        check = new TCheckForm(form);
        progress = new TProgressForm(form);
        form->AttachDialogs(check, progress);
        form->show();
    }
    ~Forms() {
        delete check.data();
        delete progress.data();
        delete form.data();
    }
    Forms(const Forms&) = delete;
    Forms& operator=(const Forms&) = delete;

    TFileListModel& list() const { return *form->FileList(); }

    QPointer<TVornForm> form;
    QPointer<TCheckForm> check;
    QPointer<TProgressForm> progress;
};
