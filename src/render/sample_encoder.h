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
    // The picture kept for a source step (seconds times the frame rate).
    const Picture* pictureAt(double step) const;
    // Run `index` of `count` pictures of `size`, as the `mosaic` of them
    // (size itself, or mosaicOf it).
    std::vector<Picture> run(int index, double step, RenderSize size, RenderSize mosaic,
                             int count = 3) const;
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
    std::map<int, Picture> pictures_; // the sample windows' pictures by segment index
    // Their copies at the sizes the samples were encoded at.
    mutable std::map<std::tuple<int, int, int>, Picture> scaled_;
    std::vector<double> centres_; // of the runs, in segment pictures
    std::map<std::tuple<ExportFormat, int, int, int, int, bool>, double> cache_;
    // GIF palettes by quality, learnt at the first size asked for.
    std::map<int, GifPalette> palettes_;
    int encodes_ = 0;
};

} // namespace kavlo
