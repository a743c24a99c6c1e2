// Joining the written picture and the written sound into the final MP4
// without encoding either again.
#pragma once

#include "render/audio_loop.h"

#include <filesystem>

namespace kavlo {

// Copies the whole video track of `videoPath` and, from the first audio
// track of `audioPath`, the stretch that starts `alignmentOffset` into its
// timeline and lasts min(audio duration - offset, video duration), placed at
// time zero, into a new MP4 at `outputPath` (index at the front; the video
// keeps the orientation it has). An existing file there is replaced.
//
// The cut falls at the exact sample frame, inside an AAC packet: the packet
// before the one holding the cut is copied too, as the decoder's history,
// and the track's edit list starts presentation at the cut. The encoder's
// priming is already hidden by the audio file's own edit list, so it shifts
// nothing.
//
// Throws Error code 20 when the video file has no video track, 21 when the
// audio file has no audio track, 25 when the audio is no longer than the
// offset, 22 when MP4 cannot hold the two tracks, 23 when there is no video
// to copy; FFmpeg's own errors (files that cannot be read or written) pass
// through. A failure may leave a partial file at outputPath.
void assembleFinalMP4(const std::filesystem::path& videoPath,
                      const std::filesystem::path& audioPath,
                      const std::filesystem::path& outputPath, SampleTime alignmentOffset);

} // namespace kavlo
