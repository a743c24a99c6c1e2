// Event records, their JSON form and the queue file, including crashes in
// the middle of a save.
#include "analytics/queue_file.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

using namespace kavlo;

namespace {

const QDateTime kMarch1 = QDateTime::fromString("2025-03-01T09:15:42.730Z", Qt::ISODateWithMs);

AppAnalyticsEvent sampleEvent(const QString& id, AnalyticsProperties properties = {}) {
    return {id, "mac_app_session_started", kMarch1, std::move(properties)};
}

} // namespace

TEST(AnalyticsRecords, JsonIsCompactWithUpperCaseUuidsAndWholeSecondInternetDateTimesOnly) {
    EXPECT_EQ(encodeEvents({sampleEvent("A")}),
              R"([{"id":"A","name":"mac_app_session_started","properties":{},)"
              R"("timestamp":"2025-03-01T09:15:42Z"}])");
    EXPECT_EQ(formatTimestamp(kMarch1.toOffsetFromUtc(3600)), "2025-03-01T09:15:42Z");

    const QRegularExpression canonical(
        "^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$");
    const QString id = newUuidText();
    EXPECT_TRUE(canonical.match(id).hasMatch()) << id.toStdString();
    EXPECT_NE(id, newUuidText());

    // Read back only without fractions, in any offset.
    const QDateTime whole = QDateTime::fromString("2025-03-01T09:15:42Z", Qt::ISODate);
    EXPECT_EQ(parseTimestamp("2025-03-01T09:15:42Z"), whole);
    EXPECT_EQ(parseTimestamp("2025-03-01T10:45:42+01:30"), whole);
    for (const char* bad :
         {"2025-03-01T09:15:42.5Z", "2025-03-01T09:15:42.000Z", "2025-03-01", "2025-03-01T09:15Z",
          "2025-03-01T09:15:42", "2025-03-01 09:15:42Z", "2025-02-30T09:15:42Z",
          "2025-03-01T24:00:00Z", " 2025-03-01T09:15:42Z", "2025-03-01T09:15:42+1:00"})
        EXPECT_FALSE(parseTimestamp(bad)) << bad;
}

TEST(AnalyticsRecords, OneBadElementFailsTheWholeArray) {
    const QByteArray good =
        R"({"id":"A","name":"n","timestamp":"2025-03-01T09:15:42Z","properties":{"k":"v"}})";
    const std::optional<QList<AppAnalyticsEvent>> decoded =
        decodeEvents("[" + good + "," + good + "]");
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->size(), 2);
    EXPECT_EQ(decoded->at(1).properties, (AnalyticsProperties{{"k", "v"}}));
    EXPECT_EQ(decodeEvents("[]"), QList<AppAnalyticsEvent>{});

    auto withOneBad = [&](QByteArray bad) { return decodeEvents("[" + good + "," + bad + "]"); };
    QByteArray fraction = good, noProperties = good, numberValue = good, noId = good;
    fraction.replace("42Z", "42.250Z");
    noProperties.replace(R"(,"properties":{"k":"v"})", "");
    numberValue.replace(R"("k":"v")", R"("k":3)");
    noId.replace(R"("id":"A",)", "");
    for (const QByteArray& bad : {fraction, noProperties, numberValue, noId})
        EXPECT_FALSE(withOneBad(bad)) << bad.toStdString();
    EXPECT_FALSE(decodeEvents("{}"));
    EXPECT_FALSE(decodeEvents("[" + good));
}

TEST(AnalyticsQueueFile, FirstSaveCreatesTheDirectoriesAndLoadRestoresToTheSecond) {
    QTemporaryDir dir;
    QueueFile file(dir.filePath("a/b/Kavlo/analytics-events.json"));
    EXPECT_TRUE(file.load().isEmpty());
    const QList<AppAnalyticsEvent> saved{sampleEvent("A", {{"format", "gif"}}), sampleEvent("B")};
    ASSERT_EQ(file.save(saved), std::nullopt);
    QList<AppAnalyticsEvent> expected = saved;
    for (AppAnalyticsEvent& event : expected)
        event.timestamp = event.timestamp.addMSecs(-730);
    EXPECT_EQ(file.load(), expected);
    EXPECT_TRUE(QueueFile::defaultPath().endsWith("/Kavlo/analytics-events.json"));
}

// A crash between writing and replacing, and kills at random moments of a
// busy writer: the file always holds one whole queue.
TEST(AnalyticsQueueFile, KillingTheWriterNeverLeavesAHalfWrittenFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath("Kavlo/analytics-events.json");
    QProcess crash;
    crash.start(KAVLO_QUEUE_WRITER, {"crash-before-replace", path});
    ASSERT_TRUE(crash.waitForFinished(20000));
    EXPECT_EQ(crash.exitStatus(), QProcess::CrashExit);
    QList<AppAnalyticsEvent> events = QueueFile(path).load();
    ASSERT_EQ(events.size(), 2000);
    EXPECT_EQ(events.last().name, "a");

    for (int round = 0; round < 5; ++round) {
        QProcess writer;
        writer.start(KAVLO_QUEUE_WRITER, {"loop", path});
        ASSERT_TRUE(writer.waitForReadyRead(20000));
        QThread::msleep(QRandomGenerator::global()->bounded(1, 40));
        writer.kill();
        ASSERT_TRUE(writer.waitForFinished(20000));
        events = QueueFile(path).load();
        ASSERT_TRUE(events.size() == 2000 || events.size() == 1500) << events.size();
        EXPECT_EQ(events.first().name, events.size() == 2000 ? "a" : "b");
    }
}
