// timeline-demo: the timeline bar on generated thumbnails.
//
//   timeline-demo [--duration S] [--unloaded] [--no-thumbnails] [--grab FILE]
//
// Every edit the bar reports is printed on stdout. --grab saves a picture of
// the window, at the screen's device pixel ratio, once it has been shown,
// and quits.
#include "demo_window.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({"duration", "Length of the pretend video in seconds.", "seconds", "10"});
    parser.addOption({"unloaded", "Show the bar as it is with no video loaded."});
    parser.addOption({"no-thumbnails", "Leave the strip without thumbnails."});
    parser.addOption({"grab", "Save a picture of the window to FILE and quit.", "file"});
    parser.process(app);

    kavlo::DemoOptions options;
    options.duration = parser.value("duration").toDouble();
    options.loaded = !parser.isSet("unloaded");
    options.thumbnails = !parser.isSet("no-thumbnails");

    kavlo::DemoWindow window(options);
    window.resize(900, 320);
    window.show();
    if (parser.isSet("grab")) {
        const QString file = parser.value("grab");
        QTimer::singleShot(300, &window, [&window, file] {
            QApplication::exit(window.grab().save(file) ? 0 : 1);
        });
    }
    return app.exec();
}
