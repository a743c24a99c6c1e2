// Child process for the crash tests: saves queues to the file named by
// argv[2] until it is killed.
//   crash-before-replace: saves 2000 "a" events, then dies by SIGKILL after
//                         writing 1500 "b" events but before they replace
//                         the file.
//   loop: saves 2000 "a" and 1500 "b" events in turn, printing "saved" after
//         the first save, until killed.
#include "analytics/queue_file.h"

#include <QDateTime>
#include <csignal>
#include <cstdio>
#include <cstring>

using namespace kavlo;

static QList<AppAnalyticsEvent> queueOf(const char* name, int count) {
    QList<AppAnalyticsEvent> events;
    const AnalyticsProperties properties{{"padding", QString(100, u'x')}};
    for (int i = 0; i < count; ++i)
        events.append({newUuidText(), name, QDateTime::currentDateTimeUtc(), properties});
    return events;
}

int main(int argc, char** argv) {
    if (argc != 3)
        return 2;
    QueueFile file(QString::fromLocal8Bit(argv[2]));
    const QList<AppAnalyticsEvent> a = queueOf("a", 2000), b = queueOf("b", 1500);
    if (file.save(a))
        return 1;
    if (std::strcmp(argv[1], "crash-before-replace") == 0) {
        file.setBeforeReplace([] { std::raise(SIGKILL); });
        file.save(b);
        return 1; // not reached
    }
    std::puts("saved");
    std::fflush(stdout);
    for (;;) {
        file.save(b);
        file.save(a);
    }
}
