#pragma once
// A control hook that makes the hooked widget accept files dropped on it and turns each drop
// into one OnFileDrop event carrying the dropped paths (their real bytes, in the order the drag
// source lists them) and the drop point in the hooked widget's coordinates.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "components/control_hook.h"

class QDropEvent;

// Files belongs to the drop target and lives only for the call: a handler must not keep it.
using TFileDropEvent = std::function<void(QObject* sender, const std::vector<std::string>& files,
                                          std::int32_t x, std::int32_t y)>;

class TDropDst : public TControlHook {
    Q_OBJECT

public:
    explicit TDropDst(QObject* owner);
    ~TDropDst() override;

    // The handler of drops; with none, drops are taken and ignored. A handler may process
    // pending events, and so see a second drop arrive while it runs; an exception it throws goes
    // to the exception report with the drop target as sender, and the next drop is handled as
    // usual.
    TFileDropEvent OnFileDrop;

    // Whether the hooked widget accepts drops; true after construction. Writing the value it
    // already has does nothing.
    bool AcceptDrop() const { return m_acceptDrop; }
    void SetAcceptDrop(bool accept);

    void Loaded() override;

protected:
    void HandleChanged(THandleChange change) override;
    bool HookMessage(QObject* watched, QEvent* event) override;

private:
    void ApplyAcceptDrop();
    void DoFileDrop(QDropEvent* drop);

    bool m_acceptDrop = true;
};

namespace vorn {
// The local file paths of a text/uri-list, as bytes, in the list's order: comments, blank lines,
// URLs of other schemes or of other hosts are left out; each path is percent-decoded to its
// bytes, whatever encoding the name has.
std::vector<std::string> FilePathsOfUriList(const QByteArray& uriList);
} // namespace vorn
