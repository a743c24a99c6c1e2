// The operations that change the selection: dragging a trim handle, sliding
// the whole selection, and the three-press Mark cycle (start, end, restore).
// While a drag goes on, the frame under the pointer is shown in the scrub
// player; its release logs the change and renders a new preview.
#include "session/model.h"

#include "session/selection.h"

namespace kavlo {

void Model::trim(TrimHandle handle, double time, bool dragging) {
    Batch batch(*this);
    // A drag that switches to the other handle scrubs that one from now on.
    if (dragging && scrubbing_ != handle)
        beginScrub(handle);
    if (handle == TrimHandle::end) {
        setEnd(time);
        setPlayhead(end_);
    } else {
        setStart(time);
        setPlayhead(start_);
    }
    seekDisplayed(playhead_);
    if (!dragging) {
        track(events::trimChanged(handle == TrimHandle::end ? TrimInteraction::endHandle
                                                            : TrimInteraction::startHandle,
                                  end_ - start_));
        endDrag();
    }
}

void Model::moveLoop(double start, bool dragging) {
    Batch batch(*this);
    // The start handle stands for the whole selection.
    if (dragging && !scrubbing_)
        beginScrub(TrimHandle::start);
    Selection s{.duration = duration_, .fps = fps_, .start = start_, .end = end_};
    s.moveTo(start);
    set(start_, s.start, kStart);
    set(end_, s.end, kEnd);
    setPlayhead(start_);
    seekDisplayed(playhead_);
    if (!dragging) {
        track(events::trimChanged(TrimInteraction::moveLoop, end_ - start_));
        endDrag();
    }
}

void Model::endDrag() {
    scrubbing_.reset();
    ++previewRevealGeneration_;
    // The seek toward the frame under the pointer gives up: from a key frame
    // of a 4K source it takes a second or two, in which it would take a core
    // from the render of the preview that replaces it. The last scrubbed
    // frame stays on screen until the new preview plays; when none of this
    // drag has landed yet, the preview before stays instead (the scrub
    // player would show a frame of an earlier drag).
    scrubPlayer_->abandonSeeks();
    prepareSmoothPreview();
}

void Model::mark(const QString& text) {
    setStatus(text);
    // Marking has no control of its own to show that it happened.
    setActivity({Notice::Kind::marked, text, std::nullopt, std::nullopt});
}

void Model::markFrame() {
    if (!url_)
        return;
    Batch batch(*this);
    const int frame = frameIndex(playhead_);
    if (!markCycle_) {
        markCycle_ = MarkCycle{.phase = 1, .start = start_, .end = end_};
        setStart(timeForFrame(frame));
        showFrame(start_);
        mark(QStringLiteral("Marked start frame %1").arg(frameIndex(start_)));
    } else if (markCycle_->phase == 1) {
        markCycle_->phase = 2;
        setEnd(timeForFrame(frame));
        showFrame(end_);
        mark(QStringLiteral("Marked end frame %1").arg(frameIndex(end_)));
    } else {
        // The selection remembered at the first press, as it was.
        set(start_, markCycle_->start, kStart);
        set(end_, markCycle_->end, kEnd);
        setPlayhead(start_);
        markCycle_.reset();
        showFrame(start_);
        mark(QStringLiteral("Restored previous start/end"));
    }
}

} // namespace kavlo
