#include "ui/RefreshReads.h"

#include "core/SharedState.h"

#include <QCoreApplication>

namespace hx {

bool RefreshGuard::start() {
    if (running_ || unloaded_) return false;
    running_ = true;
    return true;
}

RefreshEnd readBlocks(Link& link, std::span<const RegisterBlock> blocks,
                      const std::function<void(size_t, int32_t)>& afterRead, RefreshGuard* yieldGuard) {
    bool allRead = true;
    for (size_t i = 0; i < blocks.size(); ++i) {
        const RegisterBlock& block = blocks[i];
        const int32_t rc = block.into.size() == 16
                               ? link.Get_4X_D16(Com_Param[0], Com_Param[3], block.first, block.into)
                               : link.Get_4X_D8(Com_Param[0], Com_Param[3], block.first, block.into);
        allRead = allRead && rc == 0;
        if (afterRead) afterRead(i, rc);
        if (!yieldGuard || i + 1 == blocks.size()) continue;
        // The guard belongs to the window: look at it only while the window is there.
        const QPointer<QWidget> alive = yieldGuard->window();
        QCoreApplication::processEvents();
        if (!alive || yieldGuard->unloaded()) return RefreshEnd::Stopped;
    }
    return allRead ? RefreshEnd::AllRead : RefreshEnd::SomeFailed;
}

} // namespace hx
