// Decoding the selected segment into upright pictures of the render size.
#pragma once

#include "media/input_file.h"
#include "media/picture.h"
#include "media/segment_reader.h"
#include "render/render_types.h"

#include <cstdint>
#include <optional>
#include <stop_token>
#include <vector>

namespace kavlo {

// The upright size of the track, each side rounded down to an even number
// of pixels and at least 2: 1920x1080 turned by 90 degrees gives 1080x1920,
// 1281x721 gives 1280x720.
RenderSize computeRenderSize(const VideoTrackInfo& track);

// E = max(round((trimEnd - trimStart) * frameRate), 2): how many pictures a
// segment read at frameRate may give.
int64_t expectedFrameCount(double trimStart, double trimEnd, double frameRate);

// `size` scaled down to fit inside `box`, keeping its shape as closely as
// even sides allow (each at least 2); `size` itself when it fits already or
// a side of the box is 0 or less (no limit).
RenderSize fitRenderSize(RenderSize size, RenderSize box);

// Everything about reading a segment that is settled before its first
// picture is decoded.
struct SegmentPlan {
    double trimStart = 0;
    double trimEnd = 0;
    double frameRate = 0; // the sampling rate
    RenderSize size;      // of every picture
    // The size was fitted to a box (see SegmentSampling::fitted).
    bool fitted = false;
    // expectedFrameCount(): the most pictures the segment gives.
    int64_t expected = 2;
    // See SegmentSampling::decoderThreads.
    int decoderThreads = 0;
};

// The plan for reading [trimStart, trimEnd] of the file's video track,
// sampled at samplingRate(nominal frame rate), at the track's render size
// or, when that is larger than `maxSize`, fitted inside it. Throws code 1
// when the file has no video track.
SegmentPlan planSegment(const InputFile& file, double trimStart, double trimEnd,
                        double (*samplingRate)(double nominalFrameRate), RenderSize maxSize = {});

// Reads a segment's pictures one at a time; what readSegmentFrames collects.
class SegmentPictureReader {
  public:
    // Starts reading the file's video track (the file must outlive the
    // reader). Throws code 5 when no decoder reads the track.
    SegmentPictureReader(InputFile& file, const SegmentPlan& plan);

    // The next picture; nothing once `expected` pictures were read or the
    // track has ended. Throws code 6 when the track was damaged (no picture
    // of such a segment can be trusted), and Error when decoding fails.
    std::optional<Picture> next();
    int64_t expected() const { return expected_; }

  private:
    std::optional<VideoSegmentReader> reader_;
    int64_t expected_;
    int64_t read_ = 0;
};

// Reads the segment [trimStart, trimEnd] of the file's video track sampled at
// frameRate: at most E = expectedFrameCount() pictures, fewer when the track
// ends first. Reports progress from 0 to
// progressShare. Throws Cancelled when `stop` is requested.
std::vector<Picture> readSegmentFrames(InputFile& file, double trimStart, double trimEnd,
                                       double frameRate, int width, int height,
                                       const ProgressCallback& progress, double progressShare,
                                       std::stop_token stop = {});

// A segment ready to render: its pictures upright at the full render size.
struct RenderFrames {
    std::vector<Picture> pictures;
    RenderSize size;
    double frameRate = 0; // the rate they were sampled at
};

// Reads the segment of the file's video track as planned by planSegment
// (full size). Throws code 1 when the file has no video track, code 30
// before reading when the segment's pictures would need more memory than is
// available (`availableMemory`, or what the machine has free when not
// given; see memory_budget.h), and code 4 when the segment gives fewer than
// two pictures.
RenderFrames readRenderFrames(InputFile& file, double trimStart, double trimEnd,
                              double (*samplingRate)(double nominalFrameRate),
                              const ProgressCallback& progress, double progressShare,
                              std::stop_token stop,
                              std::optional<uint64_t> availableMemory = std::nullopt);

// Throws code 4 when a segment gave fewer than two pictures.
void checkEnoughFrames(std::size_t frameCount);

} // namespace kavlo
