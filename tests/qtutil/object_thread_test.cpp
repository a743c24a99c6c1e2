// A QObject on a thread of its own: where its calls run, in which order,
// what happens to a call that throws, and that nothing posted is lost when
// the holder goes.
#include "qtutil/object_thread.h"

#include <gtest/gtest.h>

#include <QThread>

#include <mutex>
#include <numeric>
#include <stdexcept>
#include <vector>

namespace kavlo {
namespace {

struct Log {
    std::mutex mutex;
    std::vector<int> calls;
    std::vector<std::string> failures;
    QThread* deletedOn = nullptr;
};

struct Recorder : QObject {
    explicit Recorder(Log& log) : log(log) {}
    ~Recorder() override { log.deletedOn = QThread::currentThread(); }
    void call(int n) {
        std::lock_guard lock(log.mutex);
        log.calls.push_back(n);
    }
    Log& log;
};

TEST(ObjectThread, CallsRunInOrderOnTheObjectsThreadAndNoneIsLostAtTheEnd) {
    Log log;
    QThread* objectThread = nullptr;
    {
        ObjectThread<Recorder> holder("recorder", std::make_unique<Recorder>(log));
        objectThread = holder.call([](Recorder&) { return QThread::currentThread(); });
        EXPECT_NE(objectThread, QThread::currentThread());
        for (int i = 0; i < 100; ++i)
            holder.post([i](Recorder& r) { r.call(i); });
    }
    std::vector<int> expected(100);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(log.calls, expected);
    EXPECT_EQ(log.deletedOn, objectThread);
}

TEST(ObjectThread, AThrowingPostReachesTheHandlerAndACallRethrows) {
    Log log;
    ObjectThread<Recorder> holder("recorder", std::make_unique<Recorder>(log),
                                  [&log](const std::exception& failure) {
                                      std::lock_guard lock(log.mutex);
                                      log.failures.push_back(failure.what());
                                  });
    holder.post([](Recorder&) { throw std::runtime_error("first"); });
    holder.post([](Recorder& r) { r.call(2); });
    EXPECT_THROW(holder.call([](Recorder&) -> int { throw std::runtime_error("second"); }),
                 std::runtime_error);
    EXPECT_EQ(holder.call([](Recorder&) { return 42; }), 42);
    std::lock_guard lock(log.mutex);
    EXPECT_EQ(log.failures, std::vector<std::string>{"first"});
    EXPECT_EQ(log.calls, std::vector<int>{2}) << "the thread goes on after a failure";
}

} // namespace
} // namespace kavlo
