#include "forms/picture/picture_form.h"

#include <QAction>
#include <QEvent>
#include <QPainter>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "components/display_text.h"
#include "core/jpeg/decode_limits.h"
#include "core/jpeg/picture_decode.h"
#include "core/os/file_system.h"
#include "core/os/retry_on_interrupt.h"
#include "core/os/unique_fd.h"
#include "forms/design_font.h"
#include "ui_picture_form.h"

namespace {

// The mark over what could not be decoded correctly.
const QColor kDamageMark(255, 0, 0, 110);

struct ReadFile {
    std::vector<std::uint8_t> bytes;
    std::string reason; // why nothing was read, in the picture check's words
};

// The whole file, within the picture check's ceiling on its size; only a regular file is read,
// and the open never blocks.
ReadFile ReadWholeFile(const std::string& path, const vorn::DeepCheckLimits& limits) {
    ReadFile read;
    const vorn::UniqueFd file(vorn::OpenForCheck(path));
    struct stat info {};
    if (!file.Valid()) {
        read.reason = "cannot be opened";
        return read;
    }
    if (::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        read.reason = "not a regular file";
        return read;
    }
    const auto size = static_cast<std::uint64_t>(info.st_size);
    if (size > limits.maxFileBytes) {
        read.reason = "too large to verify: a file of " + std::to_string(size) + " bytes";
        return read;
    }
    read.bytes.resize(size);
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = vorn::RetryOnInterrupt([&] {
            return ::pread(file.Get(), read.bytes.data() + got, size - got,
                           static_cast<off_t>(got));
        });
        if (n < 0) {
            read.bytes.clear();
            read.reason = "read error";
            return read;
        }
        if (n == 0) {
            break; // the file shrank meanwhile
        }
        got += static_cast<std::size_t>(n);
    }
    read.bytes.resize(got);
    return read;
}

} // namespace

TPictureForm::TPictureForm()
    : m_ui(std::make_unique<Ui::TPictureForm>()) {
    m_ui->setupUi(this);
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
    }
    if (m_worker.joinable()) {
        m_worker.join();
    }
    m_cancel.reset();
}

void TPictureForm::ShowFile(const std::string& path) {
    StopWorker();
    const std::uint64_t request = ++m_request;
    m_path = path;
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
    m_decoding = true;
    const QString name = DisplayText(path.substr(path.rfind('/') + 1));
    setWindowTitle(name);
    m_ui->InfoLabel->setText(name + QStringLiteral("\ndecoding..."));
    // Decoded at about the size it is shown at; a larger window shows it a little soft.
    const qreal ratio = devicePixelRatioF();
    const auto fitWidth = static_cast<std::uint32_t>(m_ui->PictureBox->width() * ratio);
    const auto fitHeight = static_cast<std::uint32_t>(m_ui->PictureBox->height() * ratio);
    m_cancel = std::make_shared<std::atomic<bool>>(false);
    m_worker = std::thread([this, request, path, fitWidth, fitHeight, cancel = m_cancel] {
        const vorn::DeepCheckLimits limits;
        auto picture = std::make_shared<vorn::DecodedPicture>();
        QString reason;
        const ReadFile file = ReadWholeFile(path, limits);
        if (!file.reason.empty()) {
            reason = DisplayText(file.reason);
        } else {
            *picture = vorn::DecodePicture(file.bytes, limits, fitWidth, fitHeight, cancel.get());
            if (picture->fault) {
                reason = DisplayText(picture->fault->reason);
            }
        }
        if (cancel->load()) {
            return;
        }
        // The window outlives the worker (it joins it), and the posted call is dropped with
        // the window.
        QMetaObject::invokeMethod(
            this,
            [this, request, path, picture, reason] { ShowResult(request, path, picture, reason); },
            Qt::QueuedConnection);
    });
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
    m_firstDamagedRow.reset();
    m_picture = QImage();
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
}

bool TPictureForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_ui->PictureBox && event->type() == QEvent::Paint) {
        PaintPicture();
        return true;
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
