// The main window's numbers and texts as plain functions: the video area's
// size, and the read-out, speed and loop texts.
#pragma once

#include <QSizeF>
#include <QString>

#include <array>

namespace kavlo {

// Room reserved below the video for the timeline, its read-outs and the
// control row; the window's shape adds the margins and the gap (193 in all).
inline constexpr double kControlStackHeight = 141;
inline constexpr double kContentMargin = 18;
inline constexpr double kPanelSpacing = 16;
inline constexpr double kHorizontalInset = 2 * kContentMargin;
inline constexpr double kVerticalExtra = kControlStackHeight + 2 * kContentMargin + kPanelSpacing;

// The speeds of the speed menu, in its order.
inline constexpr std::array<double, 9> kExportSpeeds = {0.1, 0.25, 0.5, 1.0, 1.5,
                                                        2.0, 3.0,  4.0, 5.0};
inline constexpr int kMaxExportLoops = 5;

// The video area for `available` (the content inside the margins): the
// video's shape, as large as fits the width and the height left above the
// control stack. The aspect is at least 0.05; the room at least 1 x 1.
QSizeF videoAreaSize(QSizeF available, double videoAspect);

// "MM:SS.ss": whole minutes (not wrapped into hours), then seconds with two
// decimals; 65.25 gives "01:05.25", 3725.5 gives "62:05.50".
QString timeReadout(double seconds);
// "1x", "2x" for whole speeds, else the shortest form: "0.25x", "1.5x".
QString speedLabel(double speed);
// "0.5x speed".
QString speedControlText(double speed);
// "1 loop", "3 loops".
QString loopItemText(int count);

} // namespace kavlo
