// How a render's progress is counted. Each render is read and written in
// stages; the table says where each stage ends on the 0...1 scale, and
// joining the written files (only an MP4 with sound has to) takes the rest.
#pragma once

#include "render/render_types.h"
#include "render/segment_feed.h"

namespace kavlo {

struct ProgressShares {
    double read;    // reading the segment
    double picture; // writing the picture, overlapped with the reading
    double sound;   // writing the sound
};

//                                          read  picture  sound
inline constexpr ProgressShares kMp4Shares{0.35, 1.00, 1.00};
inline constexpr ProgressShares kMp4WithSoundShares{0.35, 0.80, 0.95};
inline constexpr ProgressShares kGifShares{0.45, 1.00, 1.00};

// The writers that read the whole segment before writing: where reading,
// the sound, one cycle of pictures and its repeats end; assembling the
// file takes the rest.
struct StagedShares {
    double read;
    double sound;
    double cycle;
    double repeats;
};

//                                        read  sound  cycle  repeats
inline constexpr StagedShares kWebmShares{0.35, 0.40, 0.97, 0.99};
inline constexpr StagedShares kWebpShares{0.45, 0.45, 0.97, 0.97};

// Reading and writing overlap, so each report counts both: the pictures
// read so far fill [0, read] and the writer's own fraction [read, picture].
// Only increases are passed on: a sequence written again starts its own
// fraction from 0.
class OverlapProgress {
  public:
    OverlapProgress(const ProgressCallback& progress, const SegmentFeed& feed,
                    const ProgressShares& shares)
        : progress_(progress), feed_(feed), shares_(shares) {}

    // The writer's fraction of the picture.
    void writing(double fraction);
    // The sound's fraction of its own stage.
    void sound(double fraction) {
        report(shares_.picture + (shares_.sound - shares_.picture) * fraction);
    }
    void report(double p);

  private:
    const ProgressCallback& progress_;
    const SegmentFeed& feed_;
    const ProgressShares shares_;
    double last_ = 0;
};

} // namespace kavlo
