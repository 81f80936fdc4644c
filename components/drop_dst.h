#pragma once
// A control hook that makes the hooked widget accept files dropped on it and turns each drop
// into one OnFileDrop event carrying the dropped paths (their real bytes, in the order the drag
// source lists them) and the drop point in the hooked widget's coordinates.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "components/control_hook.h"

using TFileDropEvent = std::function<void(QObject* sender, const std::vector<std::string>& files,
                                          std::int32_t x, std::int32_t y)>;

class TDropDst : public TControlHook {
    Q_OBJECT

public:
    explicit TDropDst(QObject* owner);
    ~TDropDst() override;

    TFileDropEvent OnFileDrop;

    bool AcceptDrop() const { return m_acceptDrop; }
    void SetAcceptDrop(bool accept);

    void Loaded() override;

protected:
    void HandleChanged(THandleChange change) override;
    bool HookMessage(QObject* watched, QEvent* event) override;

private:
    void ApplyAcceptDrop();
    void DoFileDrop(class QDropEvent* drop);

    bool m_acceptDrop = true;
};
