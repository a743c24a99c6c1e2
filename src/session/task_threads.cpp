#include "session/task_threads.h"

#include "core/thread_priority.h"

#include <condition_variable>
#include <deque>
#include <mutex>

namespace kavlo {

namespace {

// Joins the threads handed to it, on a thread of its own: a task that has
// set its flag may not have ended yet, and at lowered priority on a busy
// machine it can take tens of milliseconds to get a core for its last
// steps, which a join on the UI thread would wait for. The threads of
// sessions that have closed come here too, still on their way to a stop;
// its destruction at exit joins what is left (every task honours its stop
// token, so that wait is short).
class Holder {
  public:
    static Holder& instance() {
        static Holder holder;
        return holder;
    }
    void adopt(std::vector<TaskThreads::Task> tasks) {
        if (tasks.empty())
            return;
        {
            std::lock_guard lock(mutex_);
            for (auto& task : tasks)
                tasks_.push_back(std::move(task));
        }
        wake_.notify_one();
    }

  private:
    // In the order handed over: a long task ahead only delays the joins of
    // threads that have ended already.
    void joinAll(std::stop_token stop) {
        for (;;) {
            TaskThreads::Task next;
            {
                std::unique_lock lock(mutex_);
                if (!wake_.wait(lock, stop, [&] { return !tasks_.empty(); }))
                    return;
                next = std::move(tasks_.front());
                tasks_.pop_front();
            }
            if (next.thread.joinable())
                next.thread.join();
        }
    }

    std::mutex mutex_;
    std::condition_variable_any wake_;
    std::deque<TaskThreads::Task> tasks_;
    std::jthread joiner_{[this](std::stop_token stop) { joinAll(stop); }};
};

} // namespace

TaskThreads::~TaskThreads() {
    for (Task& task : tasks_)
        task.thread.request_stop();
    Holder::instance().adopt(std::move(tasks_));
}

void TaskThreads::handOverFinished() {
    std::vector<Task> finished;
    for (auto it = tasks_.begin(); it != tasks_.end();) {
        if (it->done->load()) {
            finished.push_back(std::move(*it));
            it = tasks_.erase(it);
        } else {
            ++it;
        }
    }
    Holder::instance().adopt(std::move(finished));
}

std::stop_source TaskThreads::start(std::function<void(std::stop_token)> work) {
    handOverFinished();
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::jthread thread([work = std::move(work), done](std::stop_token stop) {
        // Renders and loads: the window stays responsive while x264 and the
        // decoders (which inherit this) use every core.
        setThisThreadNice(kWorkNice);
        work(stop);
        done->store(true);
    });
    std::stop_source source = thread.get_stop_source();
    tasks_.push_back({std::move(done), std::move(thread)});
    return source;
}

} // namespace kavlo
