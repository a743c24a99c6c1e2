#include "session/session_timers.h"

#include <QObject>
#include <QTimer>

#include <map>

namespace kavlo {

namespace {

class QtTimers : public SessionTimers {
  public:
    Id start(std::chrono::milliseconds delay, std::function<void()> fire) override {
        const Id id = nextId_++;
        auto* timer = new QTimer(&owner_);
        timer->setSingleShot(true);
        QObject::connect(timer, &QTimer::timeout, timer, [this, id, fire = std::move(fire)] {
            // Forgotten before it runs: the callback may start or cancel timers.
            cancel(id);
            fire();
        });
        timers_.emplace(id, timer);
        timer->start(delay);
        return id;
    }

    void cancel(Id id) override {
        const auto it = timers_.find(id);
        if (it == timers_.end())
            return;
        it->second->stop();
        // Not deleted here: cancel() may run inside this timer's own timeout.
        it->second->deleteLater();
        timers_.erase(it);
    }

  private:
    QObject owner_; // deletes the timers, and with them any callback not yet run
    std::map<Id, QTimer*> timers_;
    Id nextId_ = 1;
};

} // namespace

std::unique_ptr<SessionTimers> makeQtTimers() {
    return std::make_unique<QtTimers>();
}

} // namespace kavlo
