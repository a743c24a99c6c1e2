#include "playback/loop_cursor.h"

namespace kavlo {

int64_t LoopCursor::restart(uint64_t serial, int64_t targetUs) {
    serial_ = serial;
    repetition_ = 0;
    mayWrap_ = true;
    return lengthUs_ > 0 && targetUs >= lengthUs_ ? targetUs % lengthUs_ : targetUs;
}

int64_t LoopCursor::place(int64_t filePtsUs) {
    mayWrap_ = true;
    return repetition_ * lengthUs_ + filePtsUs;
}

bool LoopCursor::wrapAtEnd() {
    if (lengthUs_ == 0 || !mayWrap_)
        return false;
    ++repetition_;
    mayWrap_ = false;
    return true;
}

} // namespace kavlo
