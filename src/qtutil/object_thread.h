// A QObject on a thread of its own, for objects that need a Qt event loop
// (timers, network replies, an audio sink) away from the UI thread. The
// holder makes and starts the thread, moves the object there, and at its
// end deletes the object on that thread, after everything posted to it, and
// stops the thread.
//
// Calls go one way, from the holder's side: post() queues a call, call()
// runs one and waits for it. Qt's event loop cannot carry exceptions, so a
// posted call that throws ends in the failure handler (on the object's
// thread), and call() rethrows in the caller. Slots and timers inside the
// object guard themselves (runGuarded in core/error.h).
//
// Threads: the holder is made, used and destroyed on one thread, never the
// object's own (call() and the destructor would wait for themselves).
#pragma once

#include "core/error.h"

#include <QMetaObject>
#include <QObject>
#include <QString>
#include <QThread>

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

namespace kavlo {

template <typename T> class ObjectThread {
    static_assert(std::is_base_of_v<QObject, T>);

  public:
    using FailureHandler = std::function<void(const std::exception&)>;

    // `object` must have no parent and belong to the calling thread.
    ObjectThread(const QString& name, std::unique_ptr<T> object, FailureHandler onFailure = {})
        : object_(object.release()), onFailure_(std::move(onFailure)) {
        thread_.setObjectName(name);
        object_->moveToThread(&thread_);
        thread_.start();
    }

    ~ObjectThread() {
        // Queued calls run in order, so everything posted so far runs first.
        QMetaObject::invokeMethod(
            object_, [object = object_] { delete object; }, Qt::BlockingQueuedConnection);
        thread_.quit();
        thread_.wait();
    }

    ObjectThread(const ObjectThread&) = delete;
    ObjectThread& operator=(const ObjectThread&) = delete;

    // Queues `work(object)` on the object's thread and returns at once.
    template <typename Work> void post(Work work) const {
        QMetaObject::invokeMethod(
            object_,
            [this, work = std::move(work)]() mutable {
                runGuarded([&] { work(*object_); },
                           [this](const std::exception& failure) {
                               if (onFailure_)
                                   onFailure_(failure);
                           });
            },
            Qt::QueuedConnection);
    }

    // Runs `work(object)` on the object's thread, after everything posted
    // before, and returns its result; rethrows what it throws.
    template <typename Work> std::invoke_result_t<Work&, T&> call(Work work) const {
        using Result = std::invoke_result_t<Work&, T&>;
        std::exception_ptr failure;
        if constexpr (std::is_void_v<Result>) {
            invokeAndWait([&] {
                try {
                    work(*object_);
                } catch (...) {
                    failure = std::current_exception();
                }
            });
            if (failure)
                std::rethrow_exception(failure);
        } else {
            std::optional<Result> result;
            invokeAndWait([&] {
                try {
                    result.emplace(work(*object_));
                } catch (...) {
                    failure = std::current_exception();
                }
            });
            if (failure)
                std::rethrow_exception(failure);
            return std::move(*result);
        }
    }

  private:
    template <typename Work> void invokeAndWait(Work&& work) const {
        QMetaObject::invokeMethod(object_, std::forward<Work>(work), Qt::BlockingQueuedConnection);
    }

    QThread thread_;
    T* object_; // owned; lives and dies on thread_
    FailureHandler onFailure_;
};

} // namespace kavlo
