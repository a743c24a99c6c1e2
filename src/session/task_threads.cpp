#include "session/task_threads.h"

#include "core/thread_priority.h"

#include <algorithm>
#include <mutex>

namespace kavlo {

namespace {

// Joins the threads whose task has ended; the rest stay.
void joinFinished(std::vector<TaskThreads::Task>& tasks) {
    std::erase_if(tasks, [](const TaskThreads::Task& task) { return task.done->load(); });
}

// Threads of sessions that have closed, still on their way to a stop. Its
// destruction at exit joins what is left; every task honours its stop token,
// so that wait is short.
class Holder {
  public:
    static Holder& instance() {
        static Holder holder;
        return holder;
    }
    void adopt(std::vector<TaskThreads::Task> tasks) {
        std::lock_guard lock(mutex_);
        joinFinished(tasks_);
        for (auto& task : tasks)
            tasks_.push_back(std::move(task));
    }

  private:
    std::mutex mutex_;
    std::vector<TaskThreads::Task> tasks_;
};

} // namespace

TaskThreads::~TaskThreads() {
    for (Task& task : tasks_)
        task.thread.request_stop();
    Holder::instance().adopt(std::move(tasks_));
}

std::stop_source TaskThreads::start(std::function<void(std::stop_token)> work) {
    joinFinished(tasks_);
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
