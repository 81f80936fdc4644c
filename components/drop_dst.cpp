#include "components/drop_dst.h"

#include <QByteArray>
#include <QDropEvent>
#include <QMimeData>

#include <exception>

#include "components/exception_report.h"

namespace {

constexpr char kUriListType[] = "text/uri-list";

// The drop target only reads the files: it never lets a drag source believe that they were
// moved (a source deletes what it moved). A drag that offers neither copy nor link is refused.
bool AcceptAsCopy(QDropEvent* event) {
    if (event->possibleActions() & Qt::CopyAction) {
        event->setDropAction(Qt::CopyAction);
    } else if (event->possibleActions() & Qt::LinkAction) {
        event->setDropAction(Qt::LinkAction);
    } else {
        return false;
    }
    event->accept();
    return true;
}

bool CarriesUriList(const QDropEvent* event) {
    // Only the offered formats are looked at: reading the data during a drag from another
    // process would fetch it anew at every move.
    return event->mimeData() && event->mimeData()->hasFormat(kUriListType);
}

} // namespace

namespace vorn {

std::vector<std::string> FilePathsOfUriList(const QByteArray& uriList) {
    std::vector<std::string> paths;
    for (const QByteArray& rawLine : uriList.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith('#')) {
            continue;
        }
        if (line.size() < 5 || qstrnicmp(line.constData(), "file:", 5) != 0) {
            continue;
        }
        QByteArray rest = line.mid(5);
        // A query or a fragment is not part of the path (a '#' or '?' in a name is encoded).
        for (qsizetype i = 0; i < rest.size(); ++i) {
            if (rest[i] == '?' || rest[i] == '#') {
                rest.truncate(i);
                break;
            }
        }
        if (rest.startsWith("//")) {
            const qsizetype pathStart = rest.indexOf('/', 2);
            const QByteArray host = rest.mid(2, (pathStart < 0 ? rest.size() : pathStart) - 2);
            if (!host.isEmpty() && host.compare("localhost", Qt::CaseInsensitive) != 0) {
                continue;
            }
            rest = pathStart < 0 ? QByteArray() : rest.mid(pathStart);
        }
        if (!rest.startsWith('/')) {
            continue;
        }
        const QByteArray path = QByteArray::fromPercentEncoding(rest);
        // No file name holds a NUL: such a URL names no file (and cut at the NUL, another one).
        if (path.contains('\0')) {
            continue;
        }
        paths.emplace_back(path.constData(), static_cast<std::size_t>(path.size()));
    }
    return paths;
}

} // namespace vorn

TDropDst::TDropDst(QObject* owner)
    : TControlHook(owner) {}

TDropDst::~TDropDst() = default;

void TDropDst::SetAcceptDrop(bool accept) {
    if (accept == m_acceptDrop) {
        return;
    }
    m_acceptDrop = accept;
    ApplyAcceptDrop();
}

void TDropDst::Loaded() {
    TControlHook::Loaded();
    ApplyAcceptDrop();
}

void TDropDst::HandleChanged(THandleChange change) {
    TControlHook::HandleChanged(change);
    ApplyAcceptDrop();
}

void TDropDst::ApplyAcceptDrop() {
    // Drop acceptance is widget state that outlives any native window, so it is applied
    // whenever a widget is hooked, whether or not its window exists yet.
    if (QWidget* hooked = HookedControl()) {
        hooked->setAcceptDrops(m_acceptDrop);
    }
}

bool TDropDst::HookMessage(QObject* watched, QEvent* event) {
    if (!m_acceptDrop) {
        return TControlHook::HookMessage(watched, event);
    }
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        // Both have to be accepted, or no drop arrives.
        auto drag = static_cast<QDragMoveEvent*>(event);
        if (CarriesUriList(drag) && AcceptAsCopy(drag)) {
            return true;
        }
        break;
    }
    case QEvent::Drop: {
        auto drop = static_cast<QDropEvent*>(event);
        if (!CarriesUriList(drop)) {
            break;
        }
        std::exception_ptr error;
        try {
            DoFileDrop(drop);
        } catch (...) {
            error = std::current_exception();
        }
        AcceptAsCopy(drop);
        if (error) {
            ReportException(this, error);
        }
        // The view never sees the drop.
        return true;
    }
    default:
        break;
    }
    return TControlHook::HookMessage(watched, event);
}

void TDropDst::DoFileDrop(QDropEvent* drop) {
    if (!OnFileDrop) {
        return;
    }
    // Everything of this drop lives on this frame: a handler that processes events may see the
    // next drop handled, or OnFileDrop replaced, before it returns.
    const TFileDropEvent handler = OnFileDrop;
    const std::vector<std::string> files =
        vorn::FilePathsOfUriList(drop->mimeData()->data(kUriListType));
    const QPoint point = drop->position().toPoint();
    handler(this, files, point.x(), point.y());
}
