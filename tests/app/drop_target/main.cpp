// kavlo-drop-target: a small window that accepts drops and prints what it
// received, for checking by hand or by script that a file dragged out of
// Kavlo arrives as a file URL.
//
//   kavlo-drop-target X Y   (window of 200x150 at X,Y; quits after one drop)
//
// Prints one line per format of the drop ("format <name> <bytes>") and one
// per URL ("url <url>"), then "dropped" and exits 0.
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QWidget>

#include <cstdio>

namespace {

class DropTarget : public QWidget {
  public:
    DropTarget() {
        setAcceptDrops(true);
        setWindowTitle(QStringLiteral("Drop target"));
        setFixedSize(200, 150);
    }

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override { event->acceptProposedAction(); }
    void dragMoveEvent(QDragMoveEvent* event) override { event->acceptProposedAction(); }
    void dropEvent(QDropEvent* event) override {
        const QMimeData* data = event->mimeData();
        for (const QString& format : data->formats())
            std::printf("format %s %lld\n", qPrintable(format),
                        static_cast<long long>(data->data(format).size()));
        for (const QUrl& url : data->urls())
            std::printf("url %s\n", url.toEncoded().constData());
        std::printf("dropped\n");
        std::fflush(stdout);
        event->acceptProposedAction();
        QApplication::exit(0);
    }
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    DropTarget target;
    if (argc > 2)
        target.move(QString::fromLocal8Bit(argv[1]).toInt(),
                    QString::fromLocal8Bit(argv[2]).toInt());
    target.show();
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}
