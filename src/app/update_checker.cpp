#include "app/update_checker.h"

#include "analytics/app_analytics.h"
#include "analytics/bundle_info.h"
#include "analytics/event_catalog.h"
#include "qtutil/log_categories.h"

#include <QDesktopServices>
#include <QNetworkAccessManager>
#include <QNetworkReply>

namespace kavlo {

UpdateEnvironment defaultUpdateEnvironment() {
    UpdateEnvironment environment;
    const QJsonObject info = bundleInfo();
    const bool switchedOff = qEnvironmentVariableIsSet(kApiBaseUrlEnvironment) &&
                             qEnvironmentVariable(kApiBaseUrlEnvironment).trimmed().isEmpty();
    if (!switchedOff)
        environment.endpoint = updateEndpoint(info);
    environment.appBuild = appBuildNumber(info);
    return environment;
}

UpdateChecker::UpdateChecker(UpdateEnvironment environment, QObject* parent)
    : QObject(parent), environment_(std::move(environment)),
      network_(environment_.network ? environment_.network : new QNetworkAccessManager(this)) {}

UpdateChecker::~UpdateChecker() {
    if (reply_) {
        reply_->disconnect(this);
        reply_->abort();
        reply_->deleteLater();
    }
}

void UpdateChecker::checkForUpdate() {
    if (reply_ || !environment_.endpoint)
        return;
    qCInfo(lcUpdate, "Checking for updates at %s (this is build %lld)",
           qUtf8Printable(environment_.endpoint->toString()),
           static_cast<long long>(environment_.appBuild));
    QNetworkRequest request(*environment_.endpoint);
    request.setTransferTimeout(environment_.timeoutMs);
    body_.clear();
    oversized_ = false;
    reply_ = network_->get(request);
    connect(reply_, &QNetworkReply::metaDataChanged, this, [this] {
        // A declared length over the limit is refused before any of it comes.
        const QVariant length = reply_->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > environment_.maxBodyBytes) {
            oversized_ = true;
            reply_->abort(); // finishes the reply at once
        }
    });
    connect(reply_, &QNetworkReply::readyRead, this, &UpdateChecker::readBody);
    connect(reply_, &QNetworkReply::finished, this, &UpdateChecker::finish);
}

void UpdateChecker::readBody() {
    if (oversized_)
        return;
    // Read as it arrives so that the reply never holds more than the limit.
    body_ += reply_->read(environment_.maxBodyBytes + 1 - body_.size());
    if (body_.size() > environment_.maxBodyBytes) {
        oversized_ = true;
        body_.clear();
        reply_->abort();
    }
}

void UpdateChecker::finish() {
    if (!oversized_ && reply_->error() == QNetworkReply::NoError)
        readBody();
    // Anything but an HTTP answer below 400 with a whole body is a failure.
    const QVariant status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const bool answered = !oversized_ && reply_->error() == QNetworkReply::NoError &&
                          status.isValid() && status.toInt() < 400;
    const QString errorText = reply_->errorString();
    reply_->deleteLater();
    reply_ = nullptr;
    const std::optional<MacUpdateInfo> update = answered ? decodeUpdateInfo(body_) : std::nullopt;
    body_.clear();
    // A check that fails costs the user nothing: a debug line only.
    if (!answered) {
        const QString why = oversized_ ? QStringLiteral("the answer is too large")
                            : status.isValid() && status.toInt() >= 400
                                ? QStringLiteral("HTTP status %1").arg(status.toInt())
                                : errorText;
        qCDebug(lcUpdate, "Update check failed: %s", qUtf8Printable(why));
    } else if (!update) {
        qCDebug(lcUpdate, "Update check failed: the answer is not an update description");
    } else {
        qCInfo(lcUpdate, "The newest build is %lld (version %s)",
               static_cast<long long>(update->build), qUtf8Printable(update->version));
    }
    if (update && update->build > environment_.appBuild) {
        setAvailableUpdate(update);
        track(events::updateAvailable(update->version, update->build));
    }
    emit checkFinished();
}

void UpdateChecker::openUpdateDownload() {
    if (!availableUpdate_)
        return;
    const MacUpdateInfo update = *availableUpdate_;
    if (const std::optional<QUrl> address = downloadAddress(update.downloadUrl)) {
        track(events::updateClicked(update.version, update.build));
        if (environment_.openUrl)
            environment_.openUrl(*address);
        else
            QDesktopServices::openUrl(*address);
    }
    setAvailableUpdate(std::nullopt);
}

void UpdateChecker::dismissUpdate() {
    if (!availableUpdate_)
        return;
    track(events::updateDismissed());
    setAvailableUpdate(std::nullopt);
}

void UpdateChecker::setAvailableUpdate(std::optional<MacUpdateInfo> update) {
    if (update == availableUpdate_)
        return;
    availableUpdate_ = std::move(update);
    emit availableUpdateChanged();
}

void UpdateChecker::track(const UsageEvent& event) {
    if (environment_.track)
        environment_.track(event);
    else
        AppAnalytics::shared().track(event);
}

} // namespace kavlo
