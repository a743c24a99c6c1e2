// The update notice: decoding the endpoint's answer, where it is asked, and the
// checker against a local server, from the request to the alert's buttons.
#include "app/update_alert.h"
#include "app/update_checker.h"
#include "support/test_http_server.h"

#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace kavlo {
namespace {

TEST(UpdateInfoDecoding, TakesTheFullFormAndRejectsAnyMissingKeyWrongTypeOrMalformedBody) {
    const auto update =
        decodeUpdateInfo(R"({"version":"2.0","build":7,"downloadUrl":"https://kavlo.app/download",)"
                         R"("sha256":"ab12","releaseNotes":"Faster exports.","channel":"stable"})");
    ASSERT_TRUE(update);
    EXPECT_EQ(*update,
              (MacUpdateInfo{"2.0", 7, "https://kavlo.app/download", "ab12", "Faster exports."}));
    EXPECT_EQ(updateAlertMessage(*update), "Version 2.0 is available. Faster exports.");
    for (const char* body :
         {R"({"version":"2","build":2,"downloadUrl":"u","sha256":null,"releaseNotes":""})",
          R"({"version":"2","build":2,"downloadUrl":"u","releaseNotes":""})"}) {
        ASSERT_TRUE(decodeUpdateInfo(body)) << body;
        EXPECT_FALSE(decodeUpdateInfo(body)->sha256);
    }

    const char* bodies[] = {
        R"({"build":2,"downloadUrl":"u","releaseNotes":""})",
        R"({"version":"2","downloadUrl":"u","releaseNotes":""})",
        R"({"version":"2","build":2,"releaseNotes":""})",
        R"({"version":"2","build":2,"downloadUrl":"u"})",
        R"({"version":2,"build":2,"downloadUrl":"u","releaseNotes":""})",
        R"({"version":"2","build":"2","downloadUrl":"u","releaseNotes":""})",
        R"({"version":"2","build":2.5,"downloadUrl":"u","releaseNotes":""})",
        R"({"version":"2","build":1e30,"downloadUrl":"u","releaseNotes":""})",
        R"({"version":"2","build":2,"downloadUrl":null,"releaseNotes":""})",
        R"({"version":"2","build":2,"downloadUrl":"u","releaseNotes":"","sha256":5})",
        R"([{"version":"2","build":2,"downloadUrl":"u","releaseNotes":""}])",
        R"({"version":"2","build":2,"downloadUrl":"u","releaseNotes":""} x)",
        "{\"version\":\"\xff\",\"build\":2,\"downloadUrl\":\"u\",\"releaseNotes\":\"\"}",
        "",
    };
    for (const char* body : bodies)
        EXPECT_FALSE(decodeUpdateInfo(body)) << body;
}

TEST(UpdateEndpoint, JoinsTheBaseAndPathWithOneSlashAndReadsTheBuildNumber) {
    auto endpoint = [](QJsonValue base) {
        const auto url = updateEndpoint(QJsonObject{{"KavloApiBaseURL", base}});
        return url ? url->toString() : QStringLiteral("none");
    };
    EXPECT_EQ(endpoint(" https://api.test.example// \n"),
              "https://api.test.example/api/mac/update");
    EXPECT_EQ(endpoint("http://127.0.0.1:8080/base/"), "http://127.0.0.1:8080/base/api/mac/update");
    EXPECT_EQ(endpoint(" "), "https://kavlo.app/api/mac/update");
    EXPECT_EQ(endpoint(QJsonValue(3)), "https://kavlo.app/api/mac/update");
    EXPECT_EQ(endpoint("not a web address"), "none");
    EXPECT_EQ(endpoint("file:///etc"), "none");

    EXPECT_EQ(appBuildNumber({{"CFBundleVersion", "42"}}), 42);
    for (QJsonValue build : {QJsonValue(42), QJsonValue("4.2"), QJsonValue(QJsonValue::Undefined)})
        EXPECT_EQ(appBuildNumber({{"CFBundleVersion", build}}), 1);
}

class UpdateCheckerTest : public ::testing::Test {
  protected:
    std::unique_ptr<UpdateChecker> check(test::HttpAnswer answer, QUrl endpoint = {}) {
        server_.respond = [answer](const test::ReceivedRequest&) { return answer; };
        auto checker = std::make_unique<UpdateChecker>(UpdateEnvironment{
            .endpoint = endpoint.isEmpty()
                            ? updateEndpoint({{"KavloApiBaseURL", server_.baseUrl().toString()}})
                            : endpoint,
            .appBuild = 5,
            .openUrl = [this](const QUrl& url) { return opened_.append(url), true; },
            .track = [this](const UsageEvent& event) { events_.append(event); }});
        QSignalSpy finished(checker.get(), &UpdateChecker::checkFinished);
        checker->checkForUpdate();
        EXPECT_TRUE(finished.wait(10'000));
        return checker;
    }
    static test::HttpAnswer update(qint64 build, const char* downloadUrl = "https://kavlo.app/d") {
        return {.status = 200,
                .body = QStringLiteral(R"({"version":"2.0","build":%1,"downloadUrl":"%2",)"
                                       R"("sha256":null,"releaseNotes":"Notes."})")
                            .arg(QString::number(build), QLatin1StringView(downloadUrl))
                            .toUtf8()};
    }
    QStringList eventNames() const {
        QStringList names;
        for (const UsageEvent& event : events_)
            names.append(event.name);
        return names;
    }

    test::TestHttpServer server_;
    QList<UsageEvent> events_;
    QList<QUrl> opened_;
};

TEST_F(UpdateCheckerTest, ANewerBuildIsAnnouncedAndDownloadOpensItsAddress) {
    const auto checker = check(update(6));
    ASSERT_EQ(server_.requests.size(), 1);
    EXPECT_EQ(server_.requests[0].method, "GET");
    EXPECT_EQ(server_.requests[0].path, "/api/mac/update");
    ASSERT_TRUE(checker->availableUpdate());
    EXPECT_EQ(checker->availableUpdate()->build, 6);
    ASSERT_EQ(eventNames(), QStringList{"mac_app_update_available"});
    EXPECT_EQ(events_[0].properties,
              (AnalyticsProperties{{"available_version", "2.0"}, {"available_build", "6"}}));

    checker->openUpdateDownload();
    EXPECT_FALSE(checker->availableUpdate());
    EXPECT_EQ(opened_, QList<QUrl>{QUrl("https://kavlo.app/d")});
    EXPECT_EQ(eventNames(), QStringList({"mac_app_update_available", "mac_app_update_clicked"}));
    EXPECT_EQ(events_[1].properties, events_[0].properties);

    // An address that is not one, or not a web page's, only closes the notice.
    for (const char* address : {"not a url", "file:///usr/bin/xterm", "smb://host/share/x",
                                "javascript:alert(1)", "https:///nohost"}) {
        SCOPED_TRACE(address);
        events_.clear();
        opened_.clear();
        const auto invalid = check(update(6, address));
        ASSERT_TRUE(invalid->availableUpdate());
        invalid->openUpdateDownload();
        EXPECT_FALSE(invalid->availableUpdate());
        EXPECT_TRUE(opened_.isEmpty());
        EXPECT_EQ(eventNames(), QStringList({"mac_app_update_available"}));
    }
}

TEST_F(UpdateCheckerTest, TheAlertOffersDownloadAndEscapeMeansNotNow) {
    QWidget window;
    window.resize(760, 600);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const auto checker = check(update(6));
    attachUpdateAlert(&window, checker.get());
    QMessageBox* alert = shownUpdateAlert(&window);
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->windowTitle(), "Update Available");
    EXPECT_EQ(alert->text(), "Version 2.0 is available. Notes.");
    QStringList buttons;
    for (QAbstractButton* button : alert->buttons())
        buttons.append(button->text());
    EXPECT_EQ(buttons, QStringList({"Download", "Not Now"}));
    QTest::keyClick(alert, Qt::Key_Escape);
    EXPECT_FALSE(checker->availableUpdate());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !shownUpdateAlert(&window); }));
    EXPECT_TRUE(opened_.isEmpty());
    EXPECT_EQ(eventNames(), QStringList({"mac_app_update_available", "mac_app_update_dismissed"}));
}

TEST_F(UpdateCheckerTest, EveryOtherAnswerLeavesNoTrace) {
    const QByteArray oversized = update(6).body + QByteArray((1 << 20), ' ');
    const std::pair<const char*, test::HttpAnswer> answers[] = {
        {"equal build", update(5)},
        {"404", {.status = 404, .body = update(6).body}},
        {"204", {.status = 204}},
        {"garbage", {.status = 200, .body = "{\"version\": 2"}},
        {"declared over 1 MB", {.status = 200, .body = oversized}},
        {"streamed over 1 MB", {.status = 200, .body = oversized, .declareLength = false}},
    };
    for (const auto& [what, answer] : answers)
        EXPECT_FALSE(check(answer)->availableUpdate()) << what;
    EXPECT_EQ(server_.requests.size(), std::size(answers));

    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost);
    const QUrl unreachable(QStringLiteral("http://127.0.0.1:%1/u").arg(closed.serverPort()));
    closed.close();
    EXPECT_FALSE(check(update(6), unreachable)->availableUpdate()) << "unreachable";
    EXPECT_TRUE(events_.isEmpty());
}

} // namespace
} // namespace kavlo
