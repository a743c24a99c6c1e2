// The kavlo program run as the desktop runs it (offscreen, the web API on
// 127.0.0.1): a first launch opens its file, a later one hands it over and exits.
#include "analytics/analytics_event.h"
#include "support/test_http_server.h"

#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace kavlo {
namespace {

class ProgramTest : public ::testing::Test {
  protected:
    ProgramTest() {
        QFile::setPermissions(runtime_.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        server_.respond = [](const test::ReceivedRequest& request) {
            return test::HttpAnswer{.status = request.path.endsWith("/update") ? 404 : 204};
        };
    }
    ~ProgramTest() override {
        for (QProcess* process : {&first_, &second_})
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(5000);
            }
    }
    void start(QProcess& process, const QStringList& arguments) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", home_.path());
        environment.insert("XDG_CONFIG_HOME", home_.filePath("config"));
        environment.insert("XDG_DATA_HOME", home_.filePath("data"));
        environment.insert("XDG_STATE_HOME", home_.filePath("state"));
        environment.insert("XDG_RUNTIME_DIR", runtime_.path());
        environment.insert("KAVLO_API_BASE_URL", server_.baseUrl().toString());
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(KAVLO_PROGRAM), arguments);
        ASSERT_TRUE(process.waitForStarted(10'000));
    }
    // The "source" of every event of that name the server received, in order.
    // An upload that timed out on a busy machine is sent again, so an event
    // counts once however many requests carried it.
    QStringList sourcesOf(const char* name) const {
        QStringList sources;
        QSet<QString> seen;
        for (const QJsonObject& event : test::uploadedEvents(server_.requests))
            if (event["name"].toString() == QLatin1StringView(name) &&
                !seen.contains(event["id"].toString())) {
                seen.insert(event["id"].toString());
                sources.append(event["properties"]["source"].toString());
            }
        return sources;
    }

    QTemporaryDir home_, runtime_;
    test::TestHttpServer server_;
    QProcess first_, second_;
};

TEST_F(ProgramTest, AFirstLaunchOpensItsFileALaterOneHandsItsFileOverAndExits) {
    auto sources = [&] { return sourcesOf("mac_app_video_load_succeeded"); };
    start(first_, {QStringLiteral(KAVLO_EXAMPLE), QStringLiteral("--ignored")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return sources().size() == 1; }, 30'000));
    ASSERT_TRUE(QFile::exists(runtime_.filePath("kavlo.socket")));

    start(second_, {QStringLiteral(KAVLO_EXAMPLE)});
    ASSERT_TRUE(second_.waitForFinished(10'000)) << "the second launch exits at once";
    EXPECT_EQ(second_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second_.exitCode(), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return sources().size() == 2; }, 30'000));
    EXPECT_EQ(sources(), QStringList({"command_line", "open_with"}));
    EXPECT_EQ(sourcesOf("mac_app_video_load_started"), QStringList({"command_line", "open_with"}));
    EXPECT_EQ(first_.state(), QProcess::Running);
}

// Conversion included: the real ffmpeg, when installed, is tried and fails.
TEST_F(ProgramTest, AFailedLoadIsLoggedWithItsFileAnalyticsWithoutIt) {
    QFile garbage(home_.filePath(QStringLiteral("Not A Video 42.mov")));
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly) && garbage.write("not a video at all") > 0);
    garbage.close();
    start(first_, {garbage.fileName()});
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !sourcesOf("mac_app_video_load_failed").isEmpty(); }, 60'000));

    QFile log(home_.filePath("state/Kavlo/kavlo.log"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(log.readAll());
    EXPECT_TRUE(text.contains(" info com.tarsel.kavlo.load: Loading " + garbage.fileName() +
                              " (command_line)"))
        << text.toStdString();
    EXPECT_TRUE(text.contains(" warning com.tarsel.kavlo.load: Could not load " +
                              garbage.fileName() + ": "))
        << text.toStdString();
    if (QFile::exists("/usr/local/bin/ffmpeg") || QFile::exists("/usr/bin/ffmpeg")) {
        // The whole command line, as a shell would take it, and its end.
        EXPECT_TRUE(text.contains("ffmpeg -y -hide_banner -loglevel error -i '" +
                                  garbage.fileName() + "' -map 0:v:0 -an -c:v libx264"))
            << text.toStdString();
        EXPECT_TRUE(text.contains(" warning com.tarsel.kavlo.convert: ffmpeg stopped with exit "
                                  "status "))
            << text.toStdString();
    }
    for (const test::ReceivedRequest& request : server_.requests)
        EXPECT_FALSE(request.body.contains("Not A Video")) << request.body.toStdString();
}

} // namespace
} // namespace kavlo
