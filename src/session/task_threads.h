// The threads of a session's background work: each task runs on a
// std::jthread of its own and stops when its stop source is asked to.
// Whenever a new task starts, the threads of finished tasks go to a
// process-wide joiner, which joins them on a thread of its own.
//
// The destructor asks every task to stop and hands the threads over to a
// joiner as well (it joins any left at exit), so a session that closes
// never waits on the UI thread for a render to reach its next cancellation
// point, nor a new task for an old thread's last steps.
//
// UI thread only (the tasks themselves run elsewhere).
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <stop_token>
#include <thread>
#include <vector>

namespace kavlo {

class TaskThreads {
  public:
    TaskThreads() = default;
    ~TaskThreads();
    TaskThreads(const TaskThreads&) = delete;
    TaskThreads& operator=(const TaskThreads&) = delete;

    // Runs `work` on a new thread; the returned source stops it.
    std::stop_source start(std::function<void(std::stop_token)> work);
    // Threads not yet joined, finished or not.
    int count() const { return static_cast<int>(tasks_.size()); }

    struct Task {
        std::shared_ptr<std::atomic<bool>> done;
        std::jthread thread;
    };

  private:
    // Moves the threads whose task has ended to the process-wide joiner.
    void handOverFinished();
    std::vector<Task> tasks_;
};

} // namespace kavlo
