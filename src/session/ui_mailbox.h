// How work on other threads hands its results to the UI thread. A worker
// posts closures; each runs later on the receiver's thread, in the order
// posted. Once the receiver's owner closes the mailbox, posts are dropped,
// and closures already posted go with the receiver when it is deleted, so a
// closure never runs against an object that is gone.
//
// post() may be called from any thread; close() on the receiver's thread,
// before the receiver is destroyed.
#pragma once

#include <functional>
#include <mutex>

class QObject;

namespace kavlo {

class UiMailbox {
  public:
    explicit UiMailbox(QObject* receiver) : receiver_(receiver) {}

    void post(std::function<void()> call);
    void close();

  private:
    std::mutex mutex_;
    QObject* receiver_; // null once closed
};

} // namespace kavlo
