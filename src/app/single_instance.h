// One Kavlo per user: the first instance listens on a local socket, and a
// later launch with a file hands the file to it and exits at once.
//
// The socket lives in the user's runtime directory (XDG_RUNTIME_DIR, which
// only the user can enter). A message is the file's path as raw bytes (so a
// name that is not UTF-8 survives), preceded by its length as a 32-bit
// big-endian number; the instance answers one byte once it has taken it.
//
// UI thread only.
#pragma once

#include <QLocalServer>
#include <QString>

#include <filesystem>

namespace kavlo {

// The socket's path for this user.
QString instanceSocketName();

class InstanceServer : public QObject {
    Q_OBJECT

  public:
    explicit InstanceServer(QString name = instanceSocketName(), QObject* parent = nullptr);

    // Starts listening, replacing a socket file no instance answers on any
    // more. False when another instance listens already.
    bool listen();

  signals:
    void fileReceived(const std::filesystem::path& file);

  private:
    void accept();

    QString name_;
    QLocalServer server_;
};

// Hands `file` (made absolute against the current directory) to the
// instance listening on `name`; true once it has taken it, false when none
// answers within `timeoutMs`.
bool handOverToRunningInstance(const std::filesystem::path& file,
                               const QString& name = instanceSocketName(), int timeoutMs = 3000);

} // namespace kavlo
