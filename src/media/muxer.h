// Writes packets into a container file. The file is complete only once
// finish() returned; an unfinished Muxer closes its file as it is.
#pragma once

#include "media/packet.h"
#include "media/rational.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

struct AVFormatContext;
struct AVPacket;

namespace kavlo {

class Encoder;
class InputFile;

class Muxer {
  public:
    // format: a libavformat short name ("mp4", "ipod" for .m4a). With
    // fastStart the index is moved to the front of the file when it is
    // finished, so players can start before they have read it all.
    Muxer(const std::string& path, const std::string& format, bool fastStart);
    ~Muxer();
    Muxer(const Muxer&) = delete;
    Muxer& operator=(const Muxer&) = delete;

    // Whether encoders for this container must put the codec's headers
    // apart (EncoderSettings::globalHeader).
    bool needsGlobalHeader() const;

    // Adds a stream fed by an encoder; packets passed to write() carry
    // timestamps in `timeBase`. Returns the stream index.
    int addStream(const Encoder& encoder, Rational timeBase);
    // Adds a stream that copies track `streamIndex` of `file` as it is, its
    // picture's orientation included; packets carry the track's own times.
    int addCopiedStream(const InputFile& file, int streamIndex);

    // Sets one of the container's own options ("movie_timescale" for MP4)
    // before begin().
    void setOption(const std::string& key, const std::string& value);

    void begin();
    // Takes the packet's data (the packet is left blank); packets of several
    // streams are interleaved by time.
    void write(Packet& packet, int streamIndex);
    // The same for a packet of FFmpeg's own, for media's writers that drive
    // their encoders directly.
    void write(AVPacket* packet, int streamIndex);
    void finish();

  private:
    struct Free {
        void operator()(AVFormatContext* ctx) const noexcept;
    };
    int newStream(Rational timeBase);

    std::unique_ptr<AVFormatContext, Free> ctx_;
    std::vector<Rational> timeBases_;
    std::string movFlags_;
    std::vector<std::pair<std::string, std::string>> options_;
};

} // namespace kavlo
