#pragma once
// What the tests of adding and checking share: the real main window with its two real dialogs,
// files made in a temporary folder, and a probe that runs at every event processing of a run.

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QTemporaryDir>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "forms/check/check_form.h"
#include "forms/main/file_list_model.h"
#include "forms/main/vorn_form.h"
#include "forms/progress/progress_form.h"

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

// A temporary folder; paths in it are byte strings, like every path of the program.
class TempTree {
public:
    TempTree() { m_root = m_dir.path().toStdString(); }
    // QTemporaryDir cannot remove names that are not valid UTF-8; the bytes can.
    ~TempTree() {
        std::error_code ignored;
        std::filesystem::remove_all(m_root, ignored);
    }
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;
    const std::string& Root() const { return m_root; }
    std::string Path(std::string_view relative) const {
        return m_root + "/" + std::string(relative);
    }

    // Writes `bytes` to the file `relative`, making its folders.
    std::string Write(std::string_view relative,
                      std::string_view bytes = "\xFF\xD8\xFF\xD9") const {
        const std::string path = Path(relative);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
        return path;
    }
    std::string Folder(std::string_view relative) const {
        const std::string path = Path(relative);
        std::filesystem::create_directories(path);
        return path;
    }
    // Replaces the root's path by "T" so that expectations read the same in every run.
    std::string Short(const std::string& path) const {
        return path.rfind(m_root, 0) == 0 ? "T" + path.substr(m_root.size()) : path;
    }

private:
    QTemporaryDir m_dir;
    std::string m_root;
};

// Calls `tick` once at every event processing while it returns true. The probe posts itself an
// event; an event posted while posted events are being delivered waits for the next
// processEvents, so a run that processes events once per path ticks once per path.
class RunProbe : public QObject {
public:
    explicit RunProbe(std::function<bool()> tick)
        : m_tick(std::move(tick)) {
        Post();
    }
    void Stop() { m_active = false; }
    int Ticks() const { return m_ticks; }

protected:
    bool event(QEvent* event) override {
        if (event->type() != kType)
            return QObject::event(event);
        if (m_active) {
            ++m_ticks;
            if (m_tick())
                Post();
            else
                m_active = false;
        }
        return true;
    }

private:
    static constexpr QEvent::Type kType = QEvent::Type(QEvent::User + 7);
    void Post() { QCoreApplication::postEvent(this, new QEvent(kType)); }

    std::function<bool()> m_tick;
    bool m_active = true;
    int m_ticks = 0;
};
