// The main window's frame: its layout and wiring, its bounds and column widths, the settings
// file and the status bar.

#include "forms/main/vorn_form.h"

#include <QAction>
#include <QGuiApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QScreen>
#include <QShowEvent>
#include <QStatusBar>
#include <QTableView>

#include <algorithm>
#include <array>
#include <cstdint>
#include <malloc.h>
#include <vector>

#include "components/drop_dst.h"
#include "core/base/processor_count.h"
#include "core/os/executable_path.h"
#include "core/program/status_texts.h"
#include "core/settings/settings_file.h"
#include "forms/design_font.h"
#include "forms/main/file_list_model.h"
#include "forms/main/state_images.h"
#include "forms/picture/picture_form.h"
#include "ui_vorn_form.h"

namespace {

constexpr std::array<int, 5> kStatusPanelWidths = {60, 50, 50, 50, 50};
constexpr std::array<const char*, 5> kStatusPanelTexts = {"0 Files", "U: 0", "C: 0", "E: 0", ""};
constexpr int kDesignedColumnWidths[TFileListModel::ColumnCount] = {400, 160};

// The second section of the settings file is named after the list.
constexpr const char* kListSection = "FileListView";

bool IsColumn(int column) {
    return column >= 0 && column < TFileListModel::ColumnCount;
}

} // namespace

TVornForm::TVornForm(QWidget* parent)
    : QMainWindow(parent)
    , m_ui(std::make_unique<Ui::TVornForm>())
    , m_settingsPath(vorn::SettingsFilePath(vorn::ExecutablePath())) {
    // The allocator gives each thread that allocates an arena of its own, up to eight per
    // processor, and keeps what a thread freed in that thread's arena. The walks and checks run
    // on 32 I/O threads, and their paths, listings and results left the window at a peak of
    // 116 MB with 94,000 rows; with an arena per processor it is 91 MB, as fast. (The picture
    // check's large blocks are mapped on their own: see the check.)
    mallopt(M_ARENA_MAX, static_cast<int>(std::min<std::size_t>(vorn::ProcessorCount(), 1024)));
    m_ui->setupUi(this);
    SetDesignFont(this);

    // Enter is both the main keyboard's Return and the keypad's Enter; the menu shows "Enter".
    m_ui->MenuOpenItem->setShortcuts({QKeySequence(Qt::Key_Enter), QKeySequence(Qt::Key_Return)});
    // The window holds the commands too, so that their shortcuts do not depend on how the
    // desktop shows the menu bar.
    addActions({m_ui->MenuExit, m_ui->MenuCheckAll, m_ui->MenuDeleteAll, m_ui->MenuPrevError,
                m_ui->MenuNextError, m_ui->MenuOpenItem, m_ui->MenuCheckPictures,
                m_ui->MenuSaveReport, m_ui->MenuShowPicture});
    connect(m_ui->MenuExit, &QAction::triggered, this, &TVornForm::MenuExitClick);
    connect(m_ui->MenuCheckAll, &QAction::triggered, this, &TVornForm::MenuCheckAllClick);
    connect(m_ui->MenuDeleteAll, &QAction::triggered, this, &TVornForm::MenuDeleteAllClick);
    connect(m_ui->MenuPrevError, &QAction::triggered, this, &TVornForm::MenuPrevErrorClick);
    connect(m_ui->MenuNextError, &QAction::triggered, this, &TVornForm::MenuNextErrorClick);
    connect(m_ui->MenuOpenItem, &QAction::triggered, this, &TVornForm::MenuOpenItemClick);
    connect(m_ui->MenuSaveReport, &QAction::triggered, this, &TVornForm::MenuSaveReportClick);
    connect(m_ui->MenuCheckPictures, &QAction::triggered, this, &TVornForm::MenuCheckPicturesClick);
    connect(m_ui->MenuShowPicture, &QAction::triggered, this, &TVornForm::MenuShowPictureClick);

    // The list: a flat model, rows of one fixed height (a list of 100,000 rows then costs no
    // per-row measuring), columns the user can resize to nothing, and a header whose clicks do
    // nothing (the list is never sorted).
    QTableView* const list = m_ui->FileListView;
    m_fileList = new TFileListModel(this);
    list->setModel(m_fileList);
    QHeaderView* const rows = list->verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setMinimumSectionSize(1);
    rows->setDefaultSectionSize(std::max(list->fontMetrics().height(), kStateImageSize) + 2);
    QHeaderView* const columns = list->horizontalHeader();
    columns->setSectionsClickable(false);
    columns->setSectionsMovable(false);
    columns->setSectionResizeMode(QHeaderView::Interactive);
    columns->setMinimumSectionSize(0);
    for (int column = 0; column < TFileListModel::ColumnCount; ++column) {
        ApplyColumnWidth(column, kDesignedColumnWidths[column]);
    }
    connect(columns, &QHeaderView::sectionResized, this,
            [this](int column, int, int width) { RecordUserColumnWidth(column, width); });
    connect(list, &QAbstractItemView::doubleClicked, this, [this] { FileListViewDblClick(); });
    connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { ShowSelectedPicture(); });
    connect(m_fileList, &QAbstractItemModel::modelReset, this, [this] { ShowSelectedPicture(); });
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list, &QWidget::customContextMenuRequested, this, &TVornForm::FileListViewContextPopup);

    // The status bar: five fixed panels, left to right. They do not set a minimum width for the
    // window: a narrow window cuts them off at its right edge.
    m_ui->StatusBar->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    for (std::size_t panel = 0; panel < kStatusPanelWidths.size(); ++panel) {
        auto* const label = new QLabel(QString::fromLatin1(kStatusPanelTexts[panel]), this);
        label->setObjectName(QStringLiteral("StatusPanel%1").arg(panel));
        label->setTextFormat(Qt::PlainText);
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setIndent(2);
        // A panel of fixed width and height takes a new text without asking the status bar to lay
        // itself out again, which measured every panel's text at each of a walk's folders.
        label->setFixedSize(kStatusPanelWidths[panel], label->sizeHint().height());
        m_ui->StatusBar->addWidget(label);
        m_statusPanels.push_back(label);
    }

    // The drop target on the list.
    m_dropDst = new TDropDst(this);
    m_dropDst->setObjectName(QStringLiteral("DropDst"));
    m_dropDst->SetControl(list);
    m_dropDst->SetTarget(htControl);
    m_dropDst->OnFileDrop = [this](QObject* sender, const std::vector<std::string>& files,
                                   std::int32_t x, std::int32_t y) {
        DropDstFileDrop(sender, files, x, y);
    };
    m_dropDst->Loaded();
}

TVornForm::~TVornForm() = default;

void TVornForm::AttachDialogs(TCheckForm* checkForm, TProgressForm* progressForm) {
    m_checkForm = checkForm;
    m_progressForm = progressForm;
}

QTableView* TVornForm::FileListView() const {
    return m_ui->FileListView;
}

// ---------------------------------------------------------------------------------------------
// Bounds and column widths

vorn::WindowBounds TVornForm::Bounds() const {
    if (!m_boundsApplied) {
        return m_requestedBounds;
    }
    const QRect frame = frameGeometry();
    const QRect client = geometry();
    if (isMinimized()) {
        // The restored bounds, with the frame around them.
        const QRect normal = normalGeometry();
        if (normal.isValid()) {
            return {normal.x() - (client.x() - frame.x()), normal.y() - (client.y() - frame.y()),
                    normal.width() + frame.width() - client.width(),
                    normal.height() + frame.height() - client.height()};
        }
    }
    return {frame.x(), frame.y(), frame.width(), frame.height()};
}

void TVornForm::SetBounds(const vorn::WindowBounds& bounds) {
    // The frame's margins are known only once the window has been shown; until then the bounds
    // are kept and applied by the first show.
    if (!m_boundsApplied) {
        m_requestedBounds = bounds;
        return;
    }
    ApplyOuterBounds(bounds);
}

void TVornForm::ApplyOuterBounds(const vorn::WindowBounds& bounds) {
    const QSize margins = frameGeometry().size() - geometry().size();
    // The values are applied as they are (but for a frame that no screen would show, below); the
    // limits are the window system's. Qt's are the
    // window's minimum size and coordinates it can compute with (the X protocol itself stops at
    // 16 bits). The largest size is the virtual desktop with the frame around it, as other
    // desktops limit a window: a settings file asking for more would cost a backing store of
    // gigabytes.
    static constexpr std::int64_t kCoordinateLimit = std::int64_t{1} << 30;
    QSize largest(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    if (const QScreen* const display = screen(); display != nullptr) {
        largest = display->virtualSize() + margins;
    }
    const auto position = [](std::int32_t value) {
        return static_cast<int>(
            std::clamp<std::int64_t>(value, -kCoordinateLimit, kCoordinateLimit));
    };
    const auto clientExtent = [](std::int32_t outer, int margin, int limit) {
        return static_cast<int>(
            std::clamp<std::int64_t>(std::int64_t{outer} - margin, 0, std::max(limit - margin, 0)));
    };
    // move() places the outer frame; resize() sets the client area.
    move(position(bounds.left), position(bounds.top));
    resize(clientExtent(bounds.width, margins.width(), largest.width()),
           clientExtent(bounds.height, margins.height(), largest.height()));

    // A frame that no screen shows (its monitor was unplugged) could be neither seen nor reached.
    const auto boundsOf = [](const QRect& rect) {
        return vorn::WindowBounds{rect.x(), rect.y(), rect.width(), rect.height()};
    };
    const QScreen* const primary = QGuiApplication::primaryScreen();
    if (primary == nullptr) {
        return;
    }
    std::vector<vorn::WindowBounds> screens;
    for (const QScreen* const each : QGuiApplication::screens()) {
        screens.push_back(boundsOf(each->geometry()));
    }
    const vorn::WindowBounds frame = boundsOf(frameGeometry());
    const vorn::WindowBounds kept =
        vorn::KeptOnAScreen(frame, screens, boundsOf(primary->availableGeometry()));
    if (kept != frame) {
        move(kept.left, kept.top);
    }
}

void TVornForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!m_boundsApplied && !event->spontaneous()) {
        m_boundsApplied = true;
        ApplyOuterBounds(m_requestedBounds);
        m_awaitingFrameMargins = frameGeometry() == geometry();
    }
}

bool TVornForm::event(QEvent* event) {
    const bool handled = QMainWindow::event(event);
    // A window manager frames the window before it is first exposed, so the first paint knows
    // the margins for certain; where no window manager runs they stay 0.
    if (m_awaitingFrameMargins && event->type() == QEvent::Paint) {
        m_awaitingFrameMargins = false;
        if (frameGeometry() != geometry()) {
            ApplyOuterBounds(m_requestedBounds);
        }
    }
    return handled;
}

int TVornForm::ColumnWidth(int column) const {
    return IsColumn(column) ? m_columnWidths[column] : 0;
}

void TVornForm::SetColumnWidth(int column, int width) {
    if (!IsColumn(column)) {
        return;
    }
    // The recorded width is the value set, also when it is 0 or negative.
    m_columnWidths[column] = width;
    ApplyColumnWidth(column, width);
}

void TVornForm::ApplyColumnWidth(int column, int width) {
    m_applyingColumnWidth = true;
    // -1 and -2 ask the list to size the column to its contents (and its header text), as the
    // report lists of other desktops do; any other negative width gives a column of no width.
    if (width == -1 || width == -2) {
        m_ui->FileListView->resizeColumnToContents(column);
    } else {
        // The header ignores a size beyond its maximum; the widest column it can show stands
        // in for a wider one.
        QHeaderView* const header = m_ui->FileListView->horizontalHeader();
        header->resizeSection(column, std::clamp(width, 0, header->maximumSectionSize()));
    }
    m_applyingColumnWidth = false;
}

void TVornForm::RecordUserColumnWidth(int column, int width) {
    // A drag of the divider or a double click on it (which fits the column); resizing done by
    // the program itself is recorded by SetColumnWidth.
    if (!m_applyingColumnWidth && IsColumn(column)) {
        m_columnWidths[column] = width;
    }
}

// ---------------------------------------------------------------------------------------------
// Settings

void TVornForm::LoadSettings() {
    vorn::SettingsFile settings;
    settings.Read(m_settingsPath);
    const std::string section = objectName().toStdString();
    const vorn::WindowBounds current = Bounds();
    const std::int32_t width = settings.ReadInteger(section, "Width", current.width);
    const std::int32_t height = settings.ReadInteger(section, "Height", current.height);
    const std::int32_t top = settings.ReadInteger(section, "Top", 0);
    const std::int32_t left = settings.ReadInteger(section, "Left", 0);
    SetBounds({left, top, width, height});
    SetColumnWidth(TFileListModel::FileNameColumn,
                   settings.ReadInteger(kListSection, "FileName",
                                        ColumnWidth(TFileListModel::FileNameColumn)));
    SetColumnWidth(
        TFileListModel::ErrorColumn,
        settings.ReadInteger(kListSection, "Error", ColumnWidth(TFileListModel::ErrorColumn)));
}

void TVornForm::SaveSettings() {
    vorn::SettingsFile settings;
    // Read first, as at start-up, so that a file that cannot be read fails the same way here.
    settings.Read(m_settingsPath);
    settings.Clear();
    const std::string section = objectName().toStdString();
    const vorn::WindowBounds bounds = Bounds();
    settings.WriteInteger(section, "Left", bounds.left);
    settings.WriteInteger(section, "Top", bounds.top);
    settings.WriteInteger(section, "Width", bounds.width);
    settings.WriteInteger(section, "Height", bounds.height);
    settings.WriteInteger(kListSection, "FileName", ColumnWidth(TFileListModel::FileNameColumn));
    settings.WriteInteger(kListSection, "Error", ColumnWidth(TFileListModel::ErrorColumn));
    settings.Write(m_settingsPath);
}

// ---------------------------------------------------------------------------------------------
// Status bar

void TVornForm::UpdateStatusBar() {
    const std::array<std::string, 4> texts =
        vorn::StatusTexts(static_cast<std::size_t>(m_fileList->Count()), m_fileList->Counts());
    for (std::size_t panel = 0; panel < texts.size(); ++panel) {
        m_statusPanels[panel]->setText(QString::fromStdString(texts[panel]));
    }
}

QString TVornForm::StatusPanelText(int panel) const {
    if (panel < 0 || static_cast<std::size_t>(panel) >= m_statusPanels.size()) {
        return {};
    }
    return m_statusPanels[static_cast<std::size_t>(panel)]->text();
}
