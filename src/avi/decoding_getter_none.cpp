// A build without decoders: compressed pictures have no getter.
#include "avi/frame_getter.h"

namespace avi {

std::unique_ptr<FrameGetter> OpenDecodingGetter(const PictureStream&, std::string* why) {
  if (why) *why = "this kestrix was built without decoders for compressed pictures";
  return nullptr;
}

}  // namespace avi
