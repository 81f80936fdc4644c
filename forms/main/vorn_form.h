#pragma once
// The main window: the file list, the menu, the status bar and the drop target on the list.
// Its methods add files and folders, check the list, walk its errors and keep the settings.
// The window's layout lives in vorn_form.ui; the methods are spread over a few sources named
// after what they do (vorn_form.cpp: frame, settings and status bar; vorn_form_adding.cpp;
// vorn_form_checking.cpp; vorn_form_commands.cpp).

#include <QMainWindow>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/check/marker_check.h"
#include "core/os/file_system.h"
#include "core/settings/window_bounds.h"
#include "core/walk/walk_engine.h"
#include "forms/event_pacer.h"

class QLabel;
class QTableView;
class TCheckForm;
class TDropDst;
class TFileListModel;
class TPictureForm;
class TProgressForm;
namespace vorn {
class PaintThrottle;
}

namespace Ui {
class TVornForm;
}

// The direction FindError searches in. A plain enumeration: the prefix of its enumerators
// already scopes them.
enum TSearchDirection { sdUp, sdDown };
// What a check run looks at: the two markers (Check All), or the picture too (Check Pictures).
enum TCheckKind { ckMarkers, ckPictures };

class TVornForm : public QMainWindow {
    Q_OBJECT

public:
    explicit TVornForm(QWidget* parent = nullptr);
    ~TVornForm() override;

    // The two dialogs this window shows; both live as long as it does.
    void AttachDialogs(TCheckForm* checkForm, TProgressForm* progressForm);
    TCheckForm* CheckDialog() const { return m_checkForm; }
    TProgressForm* ProgressDialog() const { return m_progressForm; }

    // Start-up and shutdown.
    void LoadSettings();
    void SaveSettings();
    void ProcessCommandLine(const std::vector<std::string>& parameters);
    // The settings file; beside the executable unless a test says otherwise.
    void SetSettingsPath(const std::string& path) { m_settingsPath = path; }
    const std::string& SettingsPath() const { return m_settingsPath; }

    // The outer frame in screen pixels; the restored bounds while minimized.
    vorn::WindowBounds Bounds() const;
    void SetBounds(const vorn::WindowBounds& bounds);
    // The width the list records for a column: the value last set, or the width the user gave
    // it by dragging or double-clicking the header divider.
    int ColumnWidth(int column) const;
    void SetColumnWidth(int column, int width);

    // The file list.
    void UpdateStatusBar();
    void AddFiles(const std::vector<std::string>& paths);
    bool CheckItem(int row);
    void CheckAll();
    // Every row as vorn-check --deep checks it: the markers and the picture itself.
    void CheckPictures();
    void FindError(TSearchDirection direction);
    // Writes the list as vorn-check reports it, in list order with each row's verdicts as they
    // stand: JSON lines when `path` ends in ".json", tab-separated otherwise. The file is
    // replaced whole or not at all; a failure throws (the error box) and leaves it as it was.
    void SaveReport(const std::string& path);

    // Handlers.
    void MenuExitClick();
    void MenuCheckAllClick();
    void MenuDeleteAllClick();
    void MenuPrevErrorClick();
    void MenuNextErrorClick();
    void MenuOpenItemClick();
    void MenuCheckPicturesClick();
    void MenuSaveReportClick();
    // Opens the picture window on the selected row; while it is open it follows the selection.
    void MenuShowPictureClick();
    // The list's context menu on the selected row: Open, Show Picture, Open Containing Folder,
    // Copy Path.
    void FileListViewContextPopup(const QPoint& position);
    void OpenContainingFolderClick();
    void CopyPathClick();
    void FileListViewDblClick();
    void DropDstFileDrop(QObject* sender, const std::vector<std::string>& files, std::int32_t x,
                         std::int32_t y);

    // Components, for the dialogs and the tests.
    QTableView* FileListView() const;
    TFileListModel* FileList() const { return m_fileList; }
    TDropDst* DropDst() const { return m_dropDst; }
    QString StatusPanelText(int panel) const;
    // The picture window; null until Show Picture first opens it.
    TPictureForm* PictureForm() const { return m_pictureForm.get(); }

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // Frame (vorn_form.cpp).
    void ApplyOuterBounds(const vorn::WindowBounds& bounds);
    void ApplyColumnWidth(int column, int width);
    void RecordUserColumnWidth(int column, int width);

    // Adding (vorn_form_adding.cpp).
    class AddingRun;
    // One list of a walk being shown: the caller's, or a folder's entries.
    struct AddingCall {
        int maximum = 0;
        std::size_t handled = 0;
        bool windowWasOpen = false;
        // The progress dialog's throttle, made by the outermost call and shared by the calls
        // nested in it (a walk's folders come and go too fast for one each).
        std::shared_ptr<vorn::PaintThrottle> throttle;
    };
    AddingCall AddFilesStart(std::size_t count);
    // The nested call for the `count` sorted entries of the folder `path`.
    AddingCall AddFolder(const std::string& path, std::size_t count);
    void AddFilesStep(AddingCall& call, const std::string& path);
    void AddFilesEnd(AddingCall& call);
    // Checking (vorn_form_checking.cpp): the run over every row with the check dialog, for
    // either kind of check.
    void CheckEveryRow(TCheckKind kind);
    // Gives a row its state and error text; true when sound.
    bool ShowVerdict(int row, const vorn::FileResult& result);

    // A row for a file the walk took; `refused`: a path that cannot be read, an error at once.
    void AddPath(const std::string& path, bool refused);
    void SuspendListRedraw();
    void ResumeListRedraw();

    // The picture window follows the list's selection while it is open.
    void ShowSelectedPicture();

    std::unique_ptr<Ui::TVornForm> m_ui;
    std::unique_ptr<TPictureForm> m_pictureForm;
    TFileListModel* m_fileList = nullptr;
    TDropDst* m_dropDst = nullptr;
    TCheckForm* m_checkForm = nullptr;
    TProgressForm* m_progressForm = nullptr;
    std::vector<QLabel*> m_statusPanels;
    int m_columnWidths[2] = {400, 160};
    std::string m_settingsPath;
    // The outer bounds asked for before the first show, when the frame margins are still
    // unknown; Bounds() reports them until the show applies them.
    vorn::WindowBounds m_requestedBounds{380, 105, 588, 366};
    bool m_boundsApplied = false;
    // Set while the first show has applied the bounds without knowing the frame's margins (a
    // window manager adds its frame after the window is mapped); the first paint, when they are
    // known, applies the bounds again.
    bool m_awaitingFrameMargins = false;
    // Set while the program itself resizes a column, so that only the user's resizing is
    // recorded as the column's width.
    bool m_applyingColumnWidth = false;

    // Adding: the redraw suspension count and the folders being walked (the loop guard).
    int m_redrawSuspension = 0;
    // The adding calls' throttle of the progress dialog, while one runs.
    std::weak_ptr<vorn::PaintThrottle> m_addingThrottle;
    std::vector<vorn::FolderIdentity> m_foldersBeingWalked;
    // Checking: how many check runs have started; a run that sees a later one stops.
    std::uint64_t m_checkRuns = 0;
    // The pace of event processing in every run, adding and checking alike.
    vorn::EventPacer m_eventPacer{this};
};
