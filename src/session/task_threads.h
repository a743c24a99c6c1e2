// The threads of a session's background work: each task runs on a
// std::jthread of its own and stops when its stop source is asked to.
// Finished threads are joined whenever a new task starts.
//
// The destructor asks every task to stop and hands the threads over to a
// process-wide holder that joins each one once it has ended (and any left
// at exit), so a session that closes never waits on the UI thread for a
// render to reach its next cancellation point.
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
    std::vector<Task> tasks_;
};

} // namespace kavlo
