#pragma once
// The picture window: the selected file's picture as far as it decodes, fitted to the window,
// with what could not be decoded correctly marked in translucent red, and a line with the
// file's name, its pixel size and the reason. The decode runs on a worker thread under the
// picture check's ceilings; a newer file replaces an older one still decoding, whose result is
// dropped. Esc closes the window.

#include <QImage>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>

class QLabel;

namespace Ui {
class TPictureForm;
}

namespace vorn {
struct DecodedPicture;
}

class TPictureForm : public QWidget {
    Q_OBJECT

public:
    // A window of its own: without a parent, so that Esc reaches it and not the main window.
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

signals:
    // A decode's result was shown (or the window was cleared).
    void PictureShown();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void StopWorker();
    void ShowResult(std::uint64_t request, const std::string& path,
                    std::shared_ptr<vorn::DecodedPicture> picture, const QString& reason);
    void PaintPicture();

    std::unique_ptr<Ui::TPictureForm> m_ui;
    std::string m_path;
    QImage m_picture;
    std::optional<int> m_firstDamagedRow;
    // Every ShowFile is a new request; a result of an earlier one is dropped.
    std::uint64_t m_request = 0;
    bool m_decoding = false;
    std::thread m_worker;
    std::shared_ptr<std::atomic<bool>> m_cancel;
};
