// Names and priorities for the players' threads. Threads that libavcodec
// starts inherit both from the thread that opens the decoder, so a decoding
// thread sets them before it opens its stream.
#pragma once

namespace kavlo {

// Names the calling thread for profilers and `top -H` (15 characters kept).
void nameThisThread(const char* name);

// Lets the threads that hand pictures over (the presenter, the UI thread)
// win the processor from the calling thread whenever both want it: decoding
// runs ahead of the picture on screen and can wait a few milliseconds, while
// a late hand-over is a visible stutter. The thread still gets a fair share
// of a busy machine, so decoding never starves.
void lowerThisThreadPriority();

} // namespace kavlo
