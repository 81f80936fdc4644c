#include "forms/picture/picture_form.h"

#include <QAction>
#include <QEvent>
#include <QPainter>
#include <QTimer>

#include <cmath>

#include "components/display_text.h"
#include "core/check/memory_budget.h"
#include "core/check/picture_file.h"
#include "core/jpeg/picture_decode.h"
#include "forms/design_font.h"
#include "ui_picture_form.h"

namespace {

// The mark over what could not be decoded correctly.
const QColor kDamageMark(255, 0, 0, 110);

} // namespace

TPictureForm::TPictureForm()
    : TPictureForm(vorn::MachineMemoryBudget()) {}

TPictureForm::TPictureForm(vorn::MemoryBudget& budget)
    : m_ui(std::make_unique<Ui::TPictureForm>())
    , m_budget(budget)
    , m_redecodeTimer(new QTimer(this)) {
    m_ui->setupUi(this);
    m_redecodeTimer->setSingleShot(true);
    m_redecodeTimer->setInterval(kRedecodeDelayMs);
    connect(m_redecodeTimer, &QTimer::timeout, this, &TPictureForm::DecodeBetterIfNeeded);
    SetDesignFont(this);
    // Leaving is the main window's: an open picture window does not keep the program running.
    setAttribute(Qt::WA_QuitOnClose, false);
    m_ui->PictureBox->installEventFilter(this);
    auto* const close = new QAction(this);
    close->setShortcut(QKeySequence(Qt::Key_Escape));
    connect(close, &QAction::triggered, this, &QWidget::close);
    addAction(close);
}

TPictureForm::~TPictureForm() {
    StopWorker();
}

QLabel* TPictureForm::InfoLabel() const {
    return m_ui->InfoLabel;
}

void TPictureForm::StopWorker() {
    if (m_cancel) {
        m_cancel->store(true);
        m_budget.WakeWaiters();
    }
    if (m_worker.joinable()) {
        m_worker.join();
    }
    m_cancel.reset();
}

void TPictureForm::ShowFile(const std::string& path) {
    StopWorker();
    m_redecodeTimer->stop();
    ++m_request;
    m_path = path;
    m_declaredSize = QSize();
    m_scale = 0;
    if (path.empty()) {
        m_decoding = false;
        m_picture = QImage();
        m_firstDamagedRow.reset();
        m_ui->InfoLabel->clear();
        setWindowTitle(QStringLiteral("Vorn picture"));
        m_ui->PictureBox->update();
        emit PictureShown();
        return;
    }
    const QString name = DisplayText(path.substr(path.rfind('/') + 1));
    setWindowTitle(name);
    m_ui->InfoLabel->setText(name + QStringLiteral("\ndecoding..."));
    StartDecode(false);
}

QSize TPictureForm::FitBox() const {
    const qreal ratio = devicePixelRatioF();
    return QSize(static_cast<int>(std::lround(m_ui->PictureBox->width() * ratio)),
                 static_cast<int>(std::lround(m_ui->PictureBox->height() * ratio)));
}

void TPictureForm::StartDecode(bool redecode) {
    StopWorker();
    // A re-decode is a request of its own too: a result of the one it replaces may be posted
    // already.
    const std::uint64_t request = ++m_request;
    m_decoding = true;
    const QSize box = FitBox();
    const auto fitWidth = static_cast<std::uint32_t>(std::max(box.width(), 0));
    const auto fitHeight = static_cast<std::uint32_t>(std::max(box.height(), 0));
    m_requestScale = redecode
                         ? vorn::DecodeScale(static_cast<std::uint32_t>(m_declaredSize.width()),
                                             static_cast<std::uint32_t>(m_declaredSize.height()),
                                             fitWidth, fitHeight)
                         : 0;
    m_cancel = std::make_shared<std::atomic<bool>>(false);
    m_worker = std::thread([this, request, redecode, path = m_path, fitWidth, fitHeight,
                            cancel = m_cancel, &budget = m_budget] {
        // The window outlives the worker (it joins it), and a call posted to it is dropped with
        // the window.
        const auto waiting = [this, request, redecode] {
            if (!redecode) {
                QMetaObject::invokeMethod(
                    this, [this, request] { ShowWaiting(request); }, Qt::QueuedConnection);
            }
        };
        vorn::PictureFile file =
            vorn::DecodePictureFile(path, fitWidth, fitHeight, budget, *cancel, waiting);
        if (file.cancelled || cancel->load()) {
            return;
        }
        auto picture = std::make_shared<vorn::DecodedPicture>(std::move(file.picture));
        QMetaObject::invokeMethod(
            this,
            [this, request, path, picture, reason = DisplayText(file.reason)] {
                ShowResult(request, path, picture, reason);
            },
            Qt::QueuedConnection);
    });
}

void TPictureForm::ShowWaiting(std::uint64_t request) {
    if (request == m_request && m_decoding) {
        m_ui->InfoLabel->setText(DisplayText(m_path.substr(m_path.rfind('/') + 1)) +
                                 QStringLiteral("\nwaiting for memory..."));
    }
}

void TPictureForm::ShowResult(std::uint64_t request, const std::string& path,
                              std::shared_ptr<vorn::DecodedPicture> picture,
                              const QString& reason) {
    if (request != m_request) {
        return;
    }
    if (m_worker.joinable()) {
        m_worker.join();
    }
    m_decoding = false;
    m_requestScale = 0;
    m_firstDamagedRow.reset();
    m_picture = QImage();
    m_scale = picture->scale;
    m_declaredSize =
        QSize(static_cast<int>(picture->declaredWidth), static_cast<int>(picture->declaredHeight));
    if (picture->width > 0) {
        const int width = static_cast<int>(picture->width);
        const int height = static_cast<int>(picture->height);
        m_picture = QImage(picture->rgb.data(), width, height, width * 3, QImage::Format_RGB888)
                        .convertToFormat(QImage::Format_RGB32);
        picture->rgb = {};
        if (picture->firstDamagedRow) {
            m_firstDamagedRow = static_cast<int>(*picture->firstDamagedRow);
            QPainter painter(&m_picture);
            painter.fillRect(0, *m_firstDamagedRow, width, height - *m_firstDamagedRow,
                             kDamageMark);
        }
    }
    QString info = DisplayText(path.substr(path.rfind('/') + 1));
    if (picture->declaredWidth > 0) {
        info +=
            QStringLiteral("   %1 × %2").arg(picture->declaredWidth).arg(picture->declaredHeight);
    }
    info += QLatin1Char('\n') + (reason.isEmpty() ? QStringLiteral("no fault found") : reason);
    m_ui->InfoLabel->setText(info);
    m_ui->PictureBox->update();
    emit PictureShown();
    // The window may have grown while this decode ran.
    DecodeBetterIfNeeded();
}

void TPictureForm::DecodeBetterIfNeeded() {
    if (m_path.empty() || m_scale == 0 || m_picture.isNull()) {
        return; // nothing shown that a larger decode would improve
    }
    const QSize box = FitBox();
    if (box.isEmpty()) {
        return; // hidden or minimised: nothing to serve
    }
    const unsigned wanted = vorn::DecodeScale(static_cast<std::uint32_t>(m_declaredSize.width()),
                                              static_cast<std::uint32_t>(m_declaredSize.height()),
                                              static_cast<std::uint32_t>(box.width()),
                                              static_cast<std::uint32_t>(box.height()));
    // A smaller box is served by the larger picture; a decode already under way for a scale at
    // least as large serves this one too.
    if (wanted <= (m_decoding ? m_requestScale : m_scale)) {
        return;
    }
    StartDecode(true);
}

bool TPictureForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_ui->PictureBox && event->type() == QEvent::Paint) {
        PaintPicture();
        return true;
    }
    if (watched == m_ui->PictureBox && event->type() == QEvent::Resize && m_scale != 0) {
        m_redecodeTimer->start();
    }
    return QWidget::eventFilter(watched, event);
}

void TPictureForm::PaintPicture() {
    QWidget* const box = m_ui->PictureBox;
    QPainter painter(box);
    painter.fillRect(box->rect(), palette().color(QPalette::Dark));
    if (m_picture.isNull()) {
        return;
    }
    const QSize fitted = m_picture.size().scaled(box->size(), Qt::KeepAspectRatio);
    const QRect target(
        QPoint((box->width() - fitted.width()) / 2, (box->height() - fitted.height()) / 2), fitted);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, m_picture);
}
