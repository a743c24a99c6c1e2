// Decoding the selected segment into upright pictures of the render size.
#pragma once

#include "media/file_util.h"
#include "media/input_file.h"
#include "media/picture.h"
#include "media/segment_reader.h"
#include "render/render_types.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <vector>

namespace kavlo {

// The upright size of the track, each side rounded down to an even number
// of pixels and at least 2: 1920x1080 turned by 90 degrees gives 1080x1920,
// 1281x721 gives 1280x720.
RenderSize computeRenderSize(const VideoTrackInfo& track);

// The rate a track is sampled at: its nominal rate, at least 1 (30 when it
// states none). Steps of a slower track would leave a selection of the
// shortest length, a second, without two pictures to loop.
double samplingFrameRate(double nominalFrameRate);

// E = max(round((trimEnd - trimStart) * rate), 2) with rate = max(frameRate,
// 1): how many pictures a segment read at frameRate may give.
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
    // Pictures keep the source's 4:4:4 colour (asked for, and the source
    // has it; see SegmentSampling::fullChroma).
    bool fullChroma = false;
    // Pictures the render will not show when the segment gives all it may
    // (see SegmentSampling::leftOut): they are read as empty ones.
    std::function<bool(int index)> leftOut = {};

    // The bytes of one picture, and how many 4:2:0 pictures of this size
    // the segment's pictures weigh as (4:4:4 ones weigh two).
    double pictureBytes() const { return (fullChroma ? 3.0 : 1.5) * size.width * size.height; }
    int64_t memoryFrames() const { return fullChroma ? 2 * expected : expected; }
};

// The plan for reading [trimStart, trimEnd] of the file's video track,
// sampled at samplingFrameRate(nominal frame rate), at the track's render
// size or, when that is larger than `maxSize`, fitted inside it; fullChroma
// as for readSegmentFrames. Throws code 1 when the file has no video track.
SegmentPlan planSegment(InputFile& file, double trimStart, double trimEnd, RenderSize maxSize = {},
                        bool fullChroma = false);

// Reads a segment's pictures one at a time; what readSegmentFrames collects.
class SegmentPictureReader {
  public:
    // Starts reading the file's video track (the file must outlive the
    // reader). Throws code 5 when no decoder reads the track.
    SegmentPictureReader(InputFile& file, const SegmentPlan& plan);

    // The next picture (empty when the plan leaves it out); nothing once
    // `expected` pictures were read or the track has ended. Throws code 6
    // when the track was damaged (no picture of such a segment can be
    // trusted), and Error when decoding fails.
    std::optional<Picture> next();
    int64_t expected() const { return expected_; }

  private:
    std::optional<VideoSegmentReader> reader_;
    int64_t expected_;
    int64_t read_ = 0;
};

// Reads the segment [trimStart, trimEnd] of the file's video track sampled at
// rate = max(frameRate, 1): at most E = expectedFrameCount() pictures, fewer
// when the track ends first. Reports progress from 0 to progressShare.
// Pictures are 4:2:0, or with fullChroma 4:4:4 where the source has that
// resolution. Throws Cancelled when `stop` is requested.
std::vector<Picture> readSegmentFrames(InputFile& file, double trimStart, double trimEnd,
                                       double frameRate, int width, int height,
                                       const ProgressCallback& progress, double progressShare,
                                       std::stop_token stop = {}, bool fullChroma = false);

// What every entry point opens before reading: the destination, checked
// not to be the source and written under a temporary name until committed,
// and the source. Opened in that order, so that a destination that would
// overwrite the source fails before anything is read.
struct ExportFiles {
    ExportFiles(const std::filesystem::path& sourcePath, const std::filesystem::path& outputPath);
    PartialOutput output;
    InputFile source;
};

// A segment ready to render: its pictures upright at the full render size.
struct RenderFrames {
    std::vector<Picture> pictures;
    RenderSize size;
    double frameRate = 0; // the rate they were sampled at
};

// Reads the segment of the file's video track, sampled at
// samplingFrameRate(nominal frame rate); fullChroma as for
// readSegmentFrames. Throws code 1 when the file has no video track, code 30
// before reading when the segment's pictures would need more memory than is
// available (`availableMemory`, or what the machine has free when not given;
// see memory_budget.h), and code 4 when the segment gives fewer than two
// pictures. A track larger than `maxSize` is read fitted inside it.
RenderFrames readRenderFrames(InputFile& file, double trimStart, double trimEnd,
                              const ProgressCallback& progress, double progressShare,
                              std::stop_token stop, bool fullChroma = false,
                              std::optional<uint64_t> availableMemory = std::nullopt,
                              RenderSize maxSize = {});

// Throws code 4 when a segment gave fewer than two pictures.
void checkEnoughFrames(std::size_t frameCount);

} // namespace kavlo
