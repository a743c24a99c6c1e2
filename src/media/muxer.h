// Writes packets into a container file. The file is complete only once
// finish() returned; an unfinished Muxer closes its file as it is.
#pragma once

#include "media/av_ptr.h"

#include <string>
#include <utility>
#include <vector>

namespace kavlo {

class Muxer {
  public:
    // format: a libavformat short name ("mp4", "ipod" for .m4a). With
    // fastStart the index is moved to the front of the file when it is
    // finished, so players can start before they have read it all.
    Muxer(const std::string& path, const char* format, bool fastStart);

    // Adds a stream fed by an encoder, or a copied stream described by its
    // parameters. Packets passed to write() carry timestamps in `timeBase`.
    // Returns the stream index.
    int addStream(const AVCodecContext* encoder, AVRational timeBase);
    int addStream(const AVCodecParameters* parameters, AVRational timeBase);

    bool needsGlobalHeader() const;
    // Sets one of the container's own options ("movie_timescale" for MP4)
    // before begin().
    void setOption(const std::string& key, const std::string& value);
    AVStream* stream(int index) const { return ctx_->streams[index]; }

    void begin();
    // Takes the packet's data (the packet is left blank); packets of several
    // streams are interleaved by time.
    void write(AVPacket* packet, int streamIndex);
    void finish();

  private:
    av::OutputContextPtr ctx_;
    std::vector<AVRational> timeBases_;
    std::string movFlags_;
    std::vector<std::pair<std::string, std::string>> options_;
};

} // namespace kavlo
