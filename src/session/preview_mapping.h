// Mapping between source time and the time of a rendered ping-pong preview.
// The preview holds the selection's frames forward, then backward, at the
// speed it was rendered at; its forward half spans sourceFrames - 1 frame
// intervals, source frame k (counted from trimStart) lying at preview time
// k / (speed * fps).
#pragma once

namespace kavlo {

struct PreviewMapping {
    int sourceFrames = 2; // frames of the forward half
    double trimStart = 0; // the selection start it was rendered from
    double speed = 1.0;   // the speed it was rendered at
    double fps = 30;      // the session's frame rate
};

// The preview time that shows source time t: the nearest forward frame, held
// to the first and last frame of the forward half.
double previewTimeFor(const PreviewMapping& mapping, double sourceTime);

// The source time a preview shows at player time p, for the playhead: the
// loop runs forward over the forward half and back again, repeating. Held at
// `selectionEnd`.
double playheadFor(const PreviewMapping& mapping, double playerTime, double selectionEnd);

} // namespace kavlo
