// Times on a source's timeline, as a type of their own. A stream counts in
// ticks of its own time base; the rest of the program counts source time,
// microseconds from the start of the file (media/frame_timing.h). The two
// are both plain integers underneath, so they get a type each: a tick count
// becomes a source time only through the stream it belongs to
// (DecodedStream::toSource), never by accident.
#pragma once

#include <chrono>
#include <compare>
#include <cstdint>

namespace kavlo {

using Microseconds = std::chrono::microseconds;

class SourceTime {
  public:
    constexpr SourceTime() = default;
    static constexpr SourceTime fromUs(int64_t us) { return SourceTime(us); }
    // Whole microseconds from the start of the file.
    constexpr int64_t us() const { return us_; }

    constexpr auto operator<=>(const SourceTime&) const = default;
    friend constexpr SourceTime operator+(SourceTime t, Microseconds d) {
        return SourceTime(t.us_ + d.count());
    }
    friend constexpr SourceTime operator-(SourceTime t, Microseconds d) {
        return SourceTime(t.us_ - d.count());
    }
    friend constexpr Microseconds operator-(SourceTime a, SourceTime b) {
        return Microseconds(a.us_ - b.us_);
    }

  private:
    constexpr explicit SourceTime(int64_t us) : us_(us) {}
    int64_t us_ = 0;
};

// The sample frame at `t` in sound of `rate` frames a second (nearest).
constexpr int64_t toSampleFrames(SourceTime t, int rate) {
    const int64_t scaled = t.us() * rate;
    return (scaled + (scaled < 0 ? -500'000 : 500'000)) / 1'000'000;
}

// A timestamp in one stream's time base.
struct StreamTicks {
    int64_t count = 0;
    constexpr auto operator<=>(const StreamTicks&) const = default;
};

} // namespace kavlo
