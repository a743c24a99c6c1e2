// What a window shows until a video is loaded: the mark, "Welcome to
// Kavlo", a link to the web site, and the two large buttons. Centred over
// the whole content; transparent around its contents.
//
// UI thread only.
#pragma once

#include <QUrl>
#include <QWidget>

class QPushButton;
class QLabel;

namespace kavlo {

class LargePanelButtonStyle;

inline constexpr char kVendorSite[] = "https://kavlo.app";

class WelcomeOverlay : public QWidget {
    Q_OBJECT

  public:
    // `style` draws the two buttons; not owned, it must outlive them.
    WelcomeOverlay(LargePanelButtonStyle* style, QWidget* parent);

    QPushButton* selectVideoButton() const { return selectVideo_; }
    QPushButton* exampleButton() const { return example_; }
    QLabel* link() const { return link_; }

  signals:
    void selectVideoClicked();
    void loadExampleClicked();
    void linkActivated(const QUrl& url);

  private:
    QPushButton* selectVideo_;
    QPushButton* example_;
    QLabel* link_;
};

} // namespace kavlo
