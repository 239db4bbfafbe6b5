// The decoder module: FFmpeg's decoders, loaded only when a movie needs them.
//
// The program does not link FFmpeg's libraries. They come with the getter for
// compressed pictures in a separately loaded module, kestrix-decoders.so,
// which exports one C entry point (kDecoderModuleEntry, of type
// DecoderModuleEntry). An uncompressed movie therefore starts without loading
// FFmpeg and the hundred-odd libraries it pulls in; a compressed one loads the
// module once, on its first OpenDecodingGetter.
//
// Contract:
//  - DecoderModule::Load tries the given paths in order and keeps the first
//    file that loads and exports the entry point. The module stays loaded for
//    the rest of the process: getters it made may outlive every DecoderModule
//    object, so it is never unloaded.
//  - A module of another build is refused: the entry point checks
//    kDecoderModuleVersion, which changes whenever the types crossing the
//    boundary (PictureStream, FrameGetter) change.
//  - Failures are described in problem() as "the decoder module <file> cannot
//    be loaded: <reason>", the reason being the dynamic loader's own words.
//  - DecoderModulePaths() lists where this program looks: beside the running
//    executable, then in the installed layout relative to it
//    (<bindir>/../lib/kestrix/), then in the build tree it was built in (so
//    tests in sub-folders of the build tree find it).
#ifndef KESTRIX_AVI_DECODER_MODULE_H_
#define KESTRIX_AVI_DECODER_MODULE_H_

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "avi/frame_getter.h"

namespace avi {

constexpr int kDecoderModuleVersion = 1;
constexpr char kDecoderModuleFile[] = "kestrix-decoders.so";
constexpr char kDecoderModuleEntry[] = "kestrix_open_decoding_getter";

// The module's entry point: a getter the caller owns (deleted through
// FrameGetter's virtual destructor), or nullptr with *why set. `why` is never
// null. Refuses a `version` other than its own.
using DecoderModuleEntry = FrameGetter* (*)(int version, const PictureStream* s, std::string* why);

class DecoderModule {
 public:
  static DecoderModule Load(std::span<const std::string> paths);

  bool ok() const { return entry_ != nullptr; }
  const std::string& problem() const { return problem_; }
  // The file that was loaded; empty unless ok().
  const std::string& path() const { return path_; }

  // A getter for the compressed stream `s` through the module, or nullptr
  // with *why set (also when the module did not load).
  std::unique_ptr<FrameGetter> Open(const PictureStream& s, std::string* why) const;

 private:
  DecoderModuleEntry entry_ = nullptr;
  std::string path_;
  std::string problem_;
};

std::vector<std::string> DecoderModulePaths();

}  // namespace avi

#endif  // KESTRIX_AVI_DECODER_MODULE_H_
