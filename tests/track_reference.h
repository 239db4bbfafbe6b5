// The tracks a movie must give, worked out independently of the program.
//
// ReferenceTracks takes each frame's picture (top row first, 432 x 160, as
// colours) and sound bytes and lays out the track files sample by sample, so
// that end-to-end tests can compare the program's files byte for byte.
#ifndef KESTRIX_TESTS_TRACK_REFERENCE_H_
#define KESTRIX_TESTS_TRACK_REFERENCE_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace reference {

struct Colour {
  std::uint8_t b, g, r;
};

// Frame f's colour at (x, y), y = 0 the top line.
using PictureFn = std::function<Colour(int frame, int x, int y)>;

struct FrameInput {
  bool has_picture = true;
  // The bytes the sound read of this frame delivers (at most 1,960; fewer at
  // the end of the stream); nullopt when the read fails.
  std::optional<std::vector<std::uint8_t>> sound;
};

using Bytes = std::vector<std::uint8_t>;

// One track file holding the given frames, with the sound block carried over
// from frame to frame as the program keeps it.
class TrackBuilder {
 public:
  explicit TrackBuilder(PictureFn picture) : picture_(std::move(picture)) {}
  // Appends frame f's record to the current track unless it is skipped.
  void AddFrame(int f, const FrameInput& input);
  // The current track as a file, and starts the next.
  Bytes FinishTrack();

 private:
  PictureFn picture_;
  std::uint8_t sound_[1960] = {};
  Bytes records_;
};

}  // namespace reference

#endif  // KESTRIX_TESTS_TRACK_REFERENCE_H_
