#include "session/ui_mailbox.h"

#include <QMetaObject>
#include <QObject>

namespace kavlo {

void UiMailbox::post(std::function<void()> call) {
    // Held while posting, so close() cannot return, and the receiver cannot
    // be deleted, between the check and the post.
    std::lock_guard lock(mutex_);
    if (receiver_)
        QMetaObject::invokeMethod(receiver_, std::move(call), Qt::QueuedConnection);
}

void UiMailbox::close() {
    std::lock_guard lock(mutex_);
    receiver_ = nullptr;
}

} // namespace kavlo
