#pragma once
// The picture window: the selected file's picture as far as it decodes, fitted to the window,
// with what could not be decoded correctly marked in translucent red, and a line with the
// file's name, its pixel size and the reason. The decode runs on a worker thread under the
// picture check's ceilings, its memory held from the budget the picture checks share; a newer
// file replaces an older one still decoding, whose result is dropped. The picture is decoded at
// about the size it is shown at: when the window grows past what that serves, it is decoded
// again at a larger scale a moment after the last resize, and the picture shown stays until
// the better one is ready. Esc closes the window.

#include <QImage>
#include <QSize>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>

class QLabel;
class QTimer;

namespace Ui {
class TPictureForm;
}

namespace vorn {
class MemoryBudget;
struct DecodedPicture;
} // namespace vorn

class TPictureForm : public QWidget {
    Q_OBJECT

public:
    // A window of its own: without a parent, so that Esc reaches it and not the main window.
    // Its decodes hold their memory from `budget`, which must outlive the window.
    explicit TPictureForm(vorn::MemoryBudget& budget);
    // The same on the budget of the checks that are given none (vorn::MachineMemoryBudget).
    TPictureForm();
    ~TPictureForm() override;

    // Shows the picture of the file at `path` (bytes, used as they are); nothing for "".
    void ShowFile(const std::string& path);
    // The file shown or being decoded.
    const std::string& FilePath() const { return m_path; }
    // True while a decode is running.
    bool Decoding() const { return m_decoding; }

    QLabel* InfoLabel() const;
    // What is painted, before it is fitted to the window; null before a picture decoded.
    const QImage& Picture() const { return m_picture; }
    // The rows of Picture() that are marked as not decoded correctly, from this one on.
    std::optional<int> FirstDamagedRow() const { return m_firstDamagedRow; }
    // How long after the last resize a larger decode starts.
    static constexpr int kRedecodeDelayMs = 150;

signals:
    // A decode's result was shown (or the window was cleared).
    void PictureShown();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void StopWorker();
    // Decodes m_path for the picture box as it is now; a re-decode keeps what is shown meanwhile.
    void StartDecode(bool redecode);
    void ShowWaiting(std::uint64_t request);
    void ShowResult(std::uint64_t request, const std::string& path,
                    std::shared_ptr<vorn::DecodedPicture> picture, const QString& reason);
    // Decodes again when the picture box asks for a larger scale than the shown picture has
    // (or the one being decoded will have).
    void DecodeBetterIfNeeded();
    // The picture box's size in device pixels.
    QSize FitBox() const;
    void PaintPicture();

    std::unique_ptr<Ui::TPictureForm> m_ui;
    vorn::MemoryBudget& m_budget;
    QTimer* m_redecodeTimer = nullptr;
    // The shown picture's declared size and scale in eighths, for m_path; empty and 0 until
    // one decoded.
    QSize m_declaredSize;
    unsigned m_scale = 0;
    // The scale of the decode running, when it is a re-decode; 0 otherwise.
    unsigned m_requestScale = 0;
    std::string m_path;
    QImage m_picture;
    std::optional<int> m_firstDamagedRow;
    // Every ShowFile is a new request; a result of an earlier one is dropped.
    std::uint64_t m_request = 0;
    bool m_decoding = false;
    std::thread m_worker;
    std::shared_ptr<std::atomic<bool>> m_cancel;
};
