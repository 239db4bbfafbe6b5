#include "inspect/track_set.h"

#include <algorithm>

namespace inspect {

Status TrackSet::Open(const std::vector<std::string>& paths) {
  std::vector<std::unique_ptr<ByteSource>> sources;
  for (const std::string& p : paths) {
    Status s;
    std::unique_ptr<FileSource> f = FileSource::Open(p, &s);
    if (!f) return s;
    sources.push_back(std::move(f));
  }
  return Open(std::move(sources));
}

Status TrackSet::Open(std::vector<std::unique_ptr<ByteSource>> sources) {
  tracks_.clear();
  frames_ = 0;
  for (auto& source : sources) {
    Track t;
    t.source = std::move(source);
    t.first_frame = frames_;
    BlockReader reader(*t.source);
    Status s = ScanTrack(reader, &t.scan);
    if (!s.ok) return s;
    frames_ += t.scan.records.size();
    tracks_.push_back(std::move(t));
  }
  return Status::Ok();
}

std::size_t TrackSet::TrackOf(std::uint64_t n) const {
  // The last track whose first frame is at or before n.
  auto it = std::upper_bound(tracks_.begin(), tracks_.end(), n,
                             [](std::uint64_t v, const Track& t) { return v < t.first_frame; });
  std::size_t i = static_cast<std::size_t>(it - tracks_.begin()) - 1;
  // Skip tracks without records that share the same first frame.
  while (n - tracks_[i].first_frame >= tracks_[i].scan.records.size()) ++i;
  return i;
}

const RecordInfo& TrackSet::FrameInfo(std::uint64_t n) const {
  const Track& t = tracks_[TrackOf(n)];
  return t.scan.records[static_cast<std::size_t>(n - t.first_frame)];
}

Status TrackSet::ReadFrame(std::uint64_t n, track::RecordBytes* out) {
  if (n >= frames_) return Status::Error("no frame " + std::to_string(n));
  Track& t = tracks_[TrackOf(n)];
  return ReadRecord(*t.source, t.scan.records[static_cast<std::size_t>(n - t.first_frame)], out);
}

}  // namespace inspect
