// Compressed data: packets as encoders give them and muxers take them, and
// the packets of a file's track for copying it into another file.
#pragma once

#include "media/rational.h"

#include <cstdint>
#include <limits>
#include <memory>

struct AVPacket;

namespace kavlo {

class InputFile;

class Packet {
  public:
    // The time of a packet that has none.
    static constexpr int64_t kNoTime = std::numeric_limits<int64_t>::min();

    // A blank packet. Throws std::bad_alloc.
    Packet();

    // Times in the time base of the stream the packet belongs to.
    int64_t pts() const;
    int64_t dts() const;
    int64_t duration() const;
    void setTimes(int64_t pts, int64_t dts, int64_t duration);
    // Bytes of compressed data, and whether it decodes on its own.
    int size() const;
    bool isKey() const;
    // Drops what belongs to the timeline the packet was read from: its
    // side data (skip marks among it) and its discard mark.
    void dropTimelineMarks();
    // Another packet on the same data; no copy.
    Packet share() const;

  private:
    friend class Encoder;
    friend class Muxer;
    friend bool readPacket(InputFile& file, int streamIndex, Packet& packet);

    struct Free {
        void operator()(AVPacket* packet) const noexcept;
    };
    std::unique_ptr<AVPacket, Free> packet_;
};

// Reads the file's next packet of the track into `packet`; false at the end
// of the file. Throws a media Error when reading fails.
bool readPacket(InputFile& file, int streamIndex, Packet& packet);

// A track's time base and its presentation length in it, as the container
// states it (from the file's duration when the track states none).
struct TrackTimes {
    Rational timeBase;
    int64_t duration = 0;
};
TrackTimes trackTimes(const InputFile& file, int streamIndex);

} // namespace kavlo
