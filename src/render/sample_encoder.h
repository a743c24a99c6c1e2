// The model behind size budgets and size estimates: a few short runs of
// pictures spread over the cycle, encoded as the export would encode them,
// and scaled up to the whole file.
//
// A run is a few pictures that follow each other in the written file (at
// the frame rate being tried), so what the model measures is what the
// export pays: one picture on its own (a GIF's first frame, an H.264 key
// frame) and the change from one picture to the next. The file is
// predicted as one of the first and as many of the second as the cycle
// writes, times the loops, plus the sound.
#pragma once

#include "media/encoder.h"
#include "media/picture.h"
#include "media/webm_writer.h"
#include "render/frame_reader.h"
#include "render/gif_quantizer.h"
#include "render/render_types.h"
#include "render/size_budget.h"
#include "render/webp_writer.h"

#include <map>
#include <mutex>
#include <optional>
#include <stop_token>
#include <tuple>

namespace kavlo {

// What a quality of 0 (the export's own) to 1 (the lowest a budget may
// bring it to) means for each writer.
H264Settings h264SettingsFor(double quality);
GifColourSettings gifColourFor(double quality);
Vp9Settings vp9SettingsFor(double quality);
WebpSettings webpSettingsFor(double quality);
// The samples' known lean for each format: the full file divided by the
// samples' prediction, as the benchmark measures it.
double sampleBias(ExportFormat format);

class SampleModel {
  public:
    // Reads the sample runs of the request's segment (fitted inside its
    // limits' box). Progress: 0 to 1 over the reading. Pictures `earlier`
    // (a model of the same source, size and colours, or null) holds are
    // taken from it instead of being decoded again: after a change of
    // speed nothing is read, after a small trim little.
    // `earlier` may still be estimating on another thread.
    SampleModel(const ExportRequest& request, std::stop_token stop,
                const ProgressCallback& progress, const SampleModel* earlier = nullptr);
    ~SampleModel();
    SampleModel(const SampleModel&) = delete;
    SampleModel& operator=(const SampleModel&) = delete;

    // The predicted file size for these settings, before any correction.
    double rawBytes(const BudgetSettings& settings);
    // The same when the samples were encoded for them already; none else.
    std::optional<double> knownRawBytes(const BudgetSettings& settings) const;
    // The pictures' size and how many are shown a second.
    RenderSize pictureSize(const BudgetSettings& settings) const;
    double shownRate(const BudgetSettings& settings) const;
    // The size the samples are kept at: the source's, fitted inside the
    // box of the request the model was made for.
    RenderSize sourceSize() const { return size_; }
    // A model made for one request serves any other of the same segment
    // and speed whose writer takes its pictures: a GIF one serves the
    // others too unless the source has full colour resolution (the
    // pictures are then 4:4:4, which only GIF keeps).
    bool fullChroma() const { return fullChroma_; }
    bool serves(ExportFormat format) const { return !fullChroma_ || format == ExportFormat::gif; }
    // One forward-and-backward cycle, in seconds of output.
    double cycleSeconds() const;
    // Sample encodes made so far.
    int encodes() const { return encodes_; }
    // Bytes the kept pictures and their copies hold (this model's share of
    // those it took from another included).
    double keptBytes() const;

  private:
    struct Written {
        int pictures = 0; // in one cycle
        double step = 1;  // segment pictures between two written ones
    };
    Written written(const BudgetSettings& settings) const;
    std::tuple<ExportFormat, int, int, int, int, bool>
    cacheKey(const BudgetSettings& settings) const;
    // Decodes the segment pictures of these indices (rising).
    void read(InputFile& file, const SegmentPlan& plan, const std::vector<int>& indices,
              const ProgressCallback& progress);
    // One source picture as it is kept: what each level needs of it.
    using Kept = std::vector<Picture>;
    Kept keep(const Picture& picture) const;
    // The picture of `size` from what is kept of it, as the `mosaic` of it.
    Picture sample(const Kept& kept, RenderSize size, RenderSize mosaic) const;
    // The picture kept for a source step (seconds times the frame rate).
    const Kept* pictureAt(double step) const;
    // Run `index` of `count` pictures of `size`, as the `mosaic` of them
    // (size itself, or mosaicOf it).
    std::vector<Picture> run(int index, double step, RenderSize size, RenderSize mosaic,
                             int count = 3) const;
    // The segment pictures of that run.
    std::vector<int> runSteps(int index, double step, int count) const;
    // What one run's encode weighed: its first picture, and the changes.
    struct RunBytes {
        std::vector<double> firsts, changes;
    };
    // Encodes are told apart by what changes their bytes: the format, the
    // quality, the sizes, the frame rate where the encoder heeds it (0 for
    // GIF and WebP) and the source pictures of the run. A model made after
    // a change of speed or a small trim finds most of its runs encoded.
    using RunKey = std::tuple<ExportFormat, int, int, int, int, int, int64_t, std::vector<int>>;
    RunKey runKey(const BudgetSettings& settings, RenderSize size, RenderSize canvas, double rate,
                  const std::vector<int>& steps) const;
    // The means over every run of the first pictures and of the changes;
    // `encode` weighs the runs not weighed before.
    template <typename Encode>
    std::pair<double, double> weighRuns(const BudgetSettings& settings, RenderSize size,
                                        RenderSize canvas, double rate, double step, int count,
                                        Encode encode);
    // The bytes of pictures of `size`, weighed on samples the size of
    // `mosaic`.
    double pictureBytes(const BudgetSettings& settings, RenderSize size, RenderSize mosaic,
                        const Written& w);
    // Sound, container and header bytes.
    double extraBytes(const BudgetSettings& settings, const Written& w) const;
    int loops(const BudgetSettings& settings) const;
    double gifBytes(const BudgetSettings& settings, RenderSize picture, RenderSize size,
                    const Written& w);
    double webpBytes(const BudgetSettings& settings, RenderSize picture, RenderSize size,
                     const Written& w);
    double videoBytes(const BudgetSettings& settings, RenderSize picture, RenderSize size,
                      const Written& w);

    ExportRequest request_;
    std::stop_token stop_;
    RenderSize size_;
    double frameRate_ = 30;
    int frameCount_ = 2;
    double origin_ = 0; // the segment's start in source steps
    bool hasSound_ = false;
    int channels_ = 2;
    bool fullChroma_ = false;
    // Samples of a picture size are cut from a copy at least as large and
    // at most twice as large: the source's size halved level by level. A
    // level keeps only the middles of the cells the tiles of its sizes
    // come from (`region` each), down to the first it keeps whole (region
    // {0, 0}): a 4K picture costs less than a whole 1080p one, a 1080p one
    // 0.6 of it.
    struct Level {
        RenderSize size, region;
    };
    std::vector<Level> levels_;
    std::map<int, Kept> pictures_; // the sample windows' pictures by segment index
    // Their copies at the size the samples were encoded at last.
    mutable std::map<int, Picture> scaled_;
    mutable RenderSize scaledSize_;
    std::vector<double> centres_; // of the runs, in segment pictures
    std::map<std::tuple<ExportFormat, int, int, int, int, bool>, double> cache_;
    // GIF palettes by quality, learnt at the first size asked for (or
    // taken from the model before).
    std::map<int, GifPalette> palettes_;
    std::map<RunKey, RunBytes> runs_;
    // A later model may read these two while this one still adds to them
    // (an estimate that has not seen its cancellation yet): the writes and
    // the other model's reads take this lock.
    mutable std::mutex learnt_;
    int encodes_ = 0;
};

} // namespace kavlo
