// kestrix-inspect: check, preview and recover what goes on the disc.
//
// Reads only the track files kestrix writes (or tracks ripped back from a
// disc) and offers five subcommands: check, frame, sheet, sound, movie.
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "inspect/avi_out.h"
#include "inspect/mosaic.h"
#include "inspect/png_out.h"
#include "inspect/sheet.h"
#include "inspect/sound_format.h"
#include "inspect/track_set.h"
#include "inspect/wav_out.h"

namespace inspect {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitDamaged = 1;  // check: some record is not whole
constexpr int kExitError = 2;    // bad usage, unreadable input, failed output

constexpr const char* kUsage =
    "usage: kestrix-inspect SUBCOMMAND [options] TRACK...\n"
    "\n"
    "Checks and previews the tracks kestrix writes (\"QMT Track 01.wav\", ...) before\n"
    "they are burnt, and gets the movie back from tracks ripped from a disc. Frames\n"
    "are numbered from 0 across the tracks in the order given.\n"
    "\n"
    "subcommands:\n"
    "  check TRACK...                       find and verify every frame record\n"
    "  frame TRACK... N -o out.png [--mosaic]\n"
    "                                       the picture of frame N as a PNG\n"
    "  sheet TRACK... -o sheet.png [--every K] [--columns C]\n"
    "                                       a contact sheet of every K-th frame\n"
    "  sound TRACK... -o sound.wav [--format F]\n"
    "                                       the movie's sound as a WAV file\n"
    "  movie TRACK... -o rebuilt.avi [--format F]\n"
    "                                       an uncompressed AVI of pictures and sound\n"
    "\n"
    "Run 'kestrix-inspect SUBCOMMAND --help' for more on one subcommand.\n";

constexpr const char* kCheckHelp =
    "usage: kestrix-inspect check TRACK...\n"
    "\n"
    "Finds every frame record in each track by its sync pattern, so tracks ripped\n"
    "with an offset (bytes added in front or cut from the start) or with damage are\n"
    "still read. Verifies each record's sync, index and fill groups and the WAV\n"
    "header, and prints per track where the records start, the damaged ones, and any\n"
    "gaps between records.\n"
    "\n"
    "Header mismatches are reported but do not change the exit status, since ripped\n"
    "tracks often carry a header of their own.\n"
    "\n"
    "exit status: 0 when every record of every track is whole and there are no gaps,\n"
    "1 when something is damaged or missing, 2 when a track cannot be read.\n";

constexpr const char* kFrameHelp =
    "usage: kestrix-inspect frame TRACK... N -o out.png [--mosaic]\n"
    "\n"
    "Writes the picture of frame N (counted from 0 across the tracks) as a 432 x 160\n"
    "PNG. Each picture line keeps one colour component of every other pixel; the\n"
    "full-colour picture is interpolated from the nearest samples.\n"
    "\n"
    "  -o FILE     the PNG to write\n"
    "  --mosaic    show the samples as they are: each sample's pixel gets its one\n"
    "              component, everything else is black\n";

constexpr const char* kSheetHelp =
    "usage: kestrix-inspect sheet TRACK... -o sheet.png [--every K] [--columns C]\n"
    "\n"
    "Writes a contact sheet: half-size (216 x 80) pictures of frames 0, K, 2K, ...\n"
    "in a grid, each with its frame number under it.\n"
    "\n"
    "  -o FILE       the PNG to write\n"
    "  --every K     frames between pictures; by default every frame when there are\n"
    "                at most 60, else the smallest step giving at most 60 pictures\n"
    "  --columns C   pictures across (default 5)\n"
    "  --mosaic      show the samples as they are\n";

constexpr const char* kSoundHelp =
    "usage: kestrix-inspect sound TRACK... -o sound.wav [--format F]\n"
    "\n"
    "Writes the movie's own sound, the tenth byte of every ten-byte group of every\n"
    "record, as a WAV file. The bytes are copied as they are; the format names how\n"
    "to read them and sets the header:\n"
    "\n"
    "  u8-stereo   2 channels, 8 bits, 8,820 Hz (the default)\n"
    "  u8-mono     1 channel, 8 bits, 17,640 Hz\n"
    "  s16-mono    1 channel, 16 bits little-endian, 8,820 Hz\n"
    "  s16-stereo  2 channels, 16 bits little-endian, 4,410 Hz\n"
    "\n"
    "The sample rate follows from the format so the sound lasts as long as the\n"
    "pictures (1,960 bytes a frame, 9 frames a second).\n";

constexpr const char* kMovieHelp =
    "usage: kestrix-inspect movie TRACK... -o rebuilt.avi [--format F] [--mosaic]\n"
    "                             [--start N] [--count M]\n"
    "\n"
    "Writes an uncompressed AVI at 9 frames a second: 24-bit 432 x 160 pictures\n"
    "rebuilt from the samples, and the sound in format F (see 'sound --help';\n"
    "default u8-stereo). Files are limited to 1 GiB, about 5,100 frames (9 minutes);\n"
    "use --start and --count to rebuild a longer movie in parts.\n";

struct Options {
  std::string command;
  std::vector<std::string> positional;
  std::string output;
  bool mosaic = false;
  bool help = false;
  std::optional<std::uint64_t> every, start, count;
  int columns = 5;
  SoundFormat format;
};

void PrintError(const std::string& message) {
  std::fprintf(stderr, "kestrix-inspect: %s\n", message.c_str());
}

std::optional<std::uint64_t> ParseNumber(std::string_view s) {
  std::uint64_t v = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size() || s.empty()) return std::nullopt;
  return v;
}

// Parses the arguments after the subcommand. Returns false (after printing
// why) on a bad option.
bool ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 2; i < argc; ++i) {
    std::string_view a = argv[i];
    auto value = [&](const char* name) -> std::optional<std::string_view> {
      if (i + 1 >= argc) {
        PrintError(std::string(name) + " needs a value");
        return std::nullopt;
      }
      return std::string_view(argv[++i]);
    };
    auto number = [&](const char* name, std::optional<std::uint64_t>* out) {
      auto v = value(name);
      if (!v) return false;
      *out = ParseNumber(*v);
      if (!*out) {
        PrintError(std::string(name) + ": '" + std::string(*v) + "' is not a number");
        return false;
      }
      return true;
    };
    if (a == "--help" || a == "-h") {
      o->help = true;
    } else if (a == "-o" || a == "--output") {
      auto v = value("-o");
      if (!v) return false;
      o->output = *v;
    } else if (a == "--mosaic") {
      o->mosaic = true;
    } else if (a == "--every") {
      if (!number("--every", &o->every)) return false;
      if (*o->every == 0) {
        PrintError("--every must be at least 1");
        return false;
      }
    } else if (a == "--start") {
      if (!number("--start", &o->start)) return false;
    } else if (a == "--count") {
      if (!number("--count", &o->count)) return false;
    } else if (a == "--columns") {
      std::optional<std::uint64_t> c;
      if (!number("--columns", &c)) return false;
      if (*c < 1 || *c > 100) {
        PrintError("--columns must be from 1 to 100");
        return false;
      }
      o->columns = static_cast<int>(*c);
    } else if (a == "--format") {
      auto v = value("--format");
      if (!v) return false;
      auto f = ParseSoundFormat(*v);
      if (!f) {
        PrintError("unknown sound format '" + std::string(*v) + "' (use one of " +
                   SoundFormatNames() + ")");
        return false;
      }
      o->format = *f;
    } else if (a == "--") {
      for (++i; i < argc; ++i) o->positional.emplace_back(argv[i]);
    } else if (a.size() > 1 && a[0] == '-') {
      PrintError("unknown option '" + std::string(a) + "' for " + o->command +
                 " (see 'kestrix-inspect " + o->command + " --help')");
      return false;
    } else {
      o->positional.emplace_back(a);
    }
  }
  return true;
}

// A percentage on stderr while long work runs, only when stderr is a
// terminal; Done() clears the line.
class Progress {
 public:
  Progress(const char* what, std::uint64_t total)
      : what_(what), total_(total), shown_(::isatty(2) == 1 && total > 0) {}
  void Step(std::uint64_t done) {
    if (!shown_) return;
    const int pct = static_cast<int>(done * 100 / total_);
    if (pct == last_) return;
    last_ = pct;
    std::fprintf(stderr, "\r%s: %3d%%", what_, pct);
    std::fflush(stderr);
  }
  void Done() {
    if (shown_ && last_ >= 0) std::fprintf(stderr, "\r%*s\r", 40, "");
  }

 private:
  const char* what_;
  std::uint64_t total_;
  bool shown_;
  int last_ = -1;
};

// Picture of one record, rebuilt or as a mosaic.
void RenderRecord(const track::RecordBytes& record, bool mosaic, RgbPicture* rgb) {
  track::PicturePayload payload;
  ExtractPayload(record, &payload);
  Samples samples;
  UnpackSamples(payload, &samples);
  if (mosaic) {
    RenderMosaic(samples, rgb);
  } else {
    Rebuild(samples, rgb);
  }
}

bool NeedOutput(const Options& o) {
  if (o.output.empty()) {
    PrintError(o.command + " needs an output file: -o FILE");
    return false;
  }
  return true;
}

bool OpenTracks(const std::vector<std::string>& paths, TrackSet* set) {
  if (paths.empty()) {
    PrintError("no track given (see 'kestrix-inspect --help')");
    return false;
  }
  Status s = set->Open(paths);
  if (!s.ok) PrintError(s.message);
  return s.ok;
}

bool NeedFrames(const TrackSet& set) {
  if (set.frame_count() == 0) {
    PrintError("no frame records found in the tracks given");
    return false;
  }
  return true;
}

std::string DamageText(const RecordInfo& r) {
  std::string t;
  auto add = [&](const std::string& part) { t += (t.empty() ? "" : ", ") + part; };
  if (r.damage & kDamageSync) add("sync (" + std::to_string(r.bad_lead) + " of 24 lead groups wrong)");
  if (r.damage & kDamageIndex) add("index (" + std::to_string(r.bad_index) + " of 12 groups wrong)");
  if (r.damage & kDamageFill) add("fill (" + std::to_string(r.bad_fill) + " of 4 groups wrong)");
  if (r.damage & kDamageShort) add("cut short (" + std::to_string(r.length) + " of 19600 bytes)");
  return t;
}

int RunCheck(const Options& o) {
  if (o.positional.empty()) {
    PrintError("no track given (see 'kestrix-inspect check --help')");
    return kExitError;
  }
  bool all_whole = true, unreadable = false;
  std::uint64_t frame = 0, total_damaged = 0;
  for (const std::string& path : o.positional) {
    // A track that cannot be read is reported and the others still checked;
    // the frame numbers after it are then uncertain, which the exit status
    // (2) says.
    Status s;
    auto source = FileSource::Open(path, &s);
    TrackScan scan;
    if (source) {
      BlockReader reader(*source);
      s = ScanTrack(reader, &scan);
    }
    if (!s.ok) {
      std::fflush(stdout);
      PrintError(s.message);
      unreadable = true;
      continue;
    }
    const std::string frames =
        scan.records.empty() ? "no frames"
                             : "frames " + std::to_string(frame) + " to " +
                                   std::to_string(frame + scan.records.size() - 1);
    std::printf("%s: %zu records (%s), %zu damaged, %zu gaps\n", path.c_str(), scan.records.size(),
                frames.c_str(), scan.damaged_count(), scan.gaps.size());
    if (scan.header.problems.empty()) {
      std::printf("  header: PCM, 2 channels, 44100 Hz, 16 bits, sizes match the file\n");
    }
    for (const std::string& p : scan.header.problems) std::printf("  header: %s\n", p.c_str());
    if (scan.records.empty()) {
      std::printf("  no frame records found in %llu bytes of sample data (%s)\n",
                  static_cast<unsigned long long>(scan.leading_bytes),
                  scan.leading_all_zero ? "silence" : "not all silence");
    } else if (scan.leading_bytes > 0) {
      std::printf("  %llu bytes before the first record (%s)\n",
                  static_cast<unsigned long long>(scan.leading_bytes),
                  scan.leading_all_zero ? "silence" : "not all silence");
    }
    // Runs of records that follow each other back to back.
    std::size_t gap = 0;
    for (std::size_t i = 0; i < scan.records.size();) {
      std::size_t j = i + 1;
      while (j < scan.records.size() &&
             scan.records[j].offset == scan.records[j - 1].offset + track::kRecordBytes) {
        ++j;
      }
      std::printf("  frames %llu to %llu: %zu records from byte %llu, back to back\n",
                  static_cast<unsigned long long>(frame + i),
                  static_cast<unsigned long long>(frame + j - 1), j - i,
                  static_cast<unsigned long long>(scan.records[i].offset));
      for (std::size_t k = i; k < j; ++k) {
        const RecordInfo& r = scan.records[k];
        if (!r.whole()) {
          std::printf("    damaged: frame %llu at byte %llu: %s\n",
                      static_cast<unsigned long long>(frame + k),
                      static_cast<unsigned long long>(r.offset), DamageText(r).c_str());
        }
      }
      if (j < scan.records.size() && gap < scan.gaps.size() &&
          scan.gaps[gap].offset + scan.gaps[gap].length == scan.records[j].offset) {
        std::printf("  gap: %llu bytes at byte %llu that are not a record\n",
                    static_cast<unsigned long long>(scan.gaps[gap].length),
                    static_cast<unsigned long long>(scan.gaps[gap].offset));
        ++gap;
      }
      i = j;
    }
    if (scan.trailing_bytes > 0) {
      std::printf("  %llu bytes after the last record (%s)\n",
                  static_cast<unsigned long long>(scan.trailing_bytes),
                  scan.trailing_all_zero ? "silence" : "not all silence");
    }
    frame += scan.records.size();
    total_damaged += scan.damaged_count();
    if (!scan.all_whole()) all_whole = false;
  }
  std::printf("%s: %llu frames, %llu damaged\n",
              unreadable ? "NOT all tracks readable" : all_whole ? "all records whole" : "NOT all whole",
              static_cast<unsigned long long>(frame), static_cast<unsigned long long>(total_damaged));
  if (unreadable) return kExitError;
  return all_whole ? kExitOk : kExitDamaged;
}

int RunFrame(Options o) {
  if (o.positional.size() < 2 || !ParseNumber(o.positional.back())) {
    PrintError("frame needs the tracks and then a frame number (see 'kestrix-inspect frame --help')");
    return kExitError;
  }
  const std::uint64_t n = *ParseNumber(o.positional.back());
  o.positional.pop_back();
  if (!NeedOutput(o)) return kExitError;
  TrackSet set;
  if (!OpenTracks(o.positional, &set) || !NeedFrames(set)) return kExitError;
  if (n >= set.frame_count()) {
    PrintError("there is no frame " + std::to_string(n) + ": the tracks hold frames 0 to " +
               std::to_string(set.frame_count() - 1));
    return kExitError;
  }
  track::RecordBytes record;
  Status s = set.ReadFrame(n, &record);
  if (!s.ok) {
    PrintError(s.message);
    return kExitError;
  }
  if (!set.FrameInfo(n).whole()) {
    PrintError("warning: frame " + std::to_string(n) + " is damaged: " + DamageText(set.FrameInfo(n)));
  }
  auto rgb = std::make_unique<RgbPicture>();
  RenderRecord(record, o.mosaic, rgb.get());
  s = WritePng(o.output, kPictureWidth, kPictureHeight, *rgb);
  if (!s.ok) {
    PrintError(s.message);
    return kExitError;
  }
  return kExitOk;
}

int RunSheet(const Options& o) {
  if (!NeedOutput(o)) return kExitError;
  TrackSet set;
  if (!OpenTracks(o.positional, &set) || !NeedFrames(set)) return kExitError;
  const std::uint64_t step = o.every ? *o.every : DefaultSheetStep(set.frame_count());
  const std::uint64_t pictures = (set.frame_count() + step - 1) / step;
  if (pictures > 2000) {
    PrintError("a sheet of " + std::to_string(pictures) +
               " pictures is too large; use a larger --every");
    return kExitError;
  }
  ContactSheet sheet(static_cast<std::size_t>(pictures), o.columns);
  auto rgb = std::make_unique<RgbPicture>();
  track::RecordBytes record;
  Progress progress("sheet", pictures);
  for (std::uint64_t i = 0; i < pictures; ++i) {
    Status s = set.ReadFrame(i * step, &record);
    if (!s.ok) {
      progress.Done();
      PrintError(s.message);
      return kExitError;
    }
    RenderRecord(record, o.mosaic, rgb.get());
    sheet.Place(static_cast<std::size_t>(i), *rgb, i * step);
    progress.Step(i + 1);
  }
  progress.Done();
  Status s = WritePng(o.output, sheet.width(), sheet.height(), sheet.rgb());
  if (!s.ok) {
    PrintError(s.message);
    return kExitError;
  }
  return kExitOk;
}

int RunSound(const Options& o) {
  if (!NeedOutput(o)) return kExitError;
  TrackSet set;
  if (!OpenTracks(o.positional, &set) || !NeedFrames(set)) return kExitError;
  WavWriter wav(o.output, o.format);
  Status s = wav.Open();
  track::RecordBytes record;
  track::SoundBlock sound;
  Progress progress("sound", set.frame_count());
  for (std::uint64_t n = 0; s.ok && n < set.frame_count(); ++n) {
    s = set.ReadFrame(n, &record);
    if (!s.ok) break;
    ExtractSound(record, &sound);
    s = wav.Append(sound);
    progress.Step(n + 1);
  }
  progress.Done();
  if (s.ok) s = wav.Finish();
  if (!s.ok) {
    PrintError(s.message + " (nothing written)");
    return kExitError;
  }
  return kExitOk;
}

int RunMovie(const Options& o) {
  if (!NeedOutput(o)) return kExitError;
  TrackSet set;
  if (!OpenTracks(o.positional, &set) || !NeedFrames(set)) return kExitError;
  const std::uint64_t start = o.start.value_or(0);
  if (start >= set.frame_count()) {
    PrintError("--start " + std::to_string(start) + " is past the last frame, " +
               std::to_string(set.frame_count() - 1));
    return kExitError;
  }
  const std::uint64_t count = std::min(o.count.value_or(set.frame_count()), set.frame_count() - start);
  AviLayout layout{kPictureWidth, kPictureHeight, 9, o.format};
  const std::uint64_t bytes = AviFileBytes(layout, count, track::kSoundBytes);
  if (bytes > kMaxAviBytes) {
    const std::uint64_t per_file = count * kMaxAviBytes / bytes;
    PrintError("the movie of " + std::to_string(count) + " frames would take " +
               std::to_string(bytes >> 20) + " MiB; an AVI written here is limited to 1 GiB (" +
               std::to_string(per_file) + " frames): use --start and --count to rebuild it in parts");
    return kExitError;
  }
  AviWriter avi(o.output, layout);
  Status s = avi.Open();
  track::RecordBytes record;
  track::SoundBlock sound;
  auto rgb = std::make_unique<RgbPicture>();
  Progress progress("movie", count);
  for (std::uint64_t i = 0; s.ok && i < count; ++i) {
    s = set.ReadFrame(start + i, &record);
    if (!s.ok) break;
    RenderRecord(record, o.mosaic, rgb.get());
    ExtractSound(record, &sound);
    s = avi.AddFrame(*rgb, sound);
    progress.Step(i + 1);
  }
  progress.Done();
  if (s.ok) s = avi.Finish();
  if (!s.ok) {
    PrintError(s.message + " (nothing written)");
    return kExitError;
  }
  return kExitOk;
}

int Main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return kExitError;
  }
  Options o;
  o.command = argv[1];
  if (o.command == "--help" || o.command == "-h" || o.command == "help") {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  struct Command {
    const char* name;
    const char* help;
    int (*run)(const Options&);
  };
  static const Command kCommands[] = {
      {"check", kCheckHelp, RunCheck},
      {"frame", kFrameHelp, [](const Options& opt) { return RunFrame(opt); }},
      {"sheet", kSheetHelp, RunSheet},
      {"sound", kSoundHelp, RunSound},
      {"movie", kMovieHelp, RunMovie},
  };
  for (const Command& c : kCommands) {
    if (o.command != c.name) continue;
    if (!ParseOptions(argc, argv, &o)) return kExitError;
    if (o.help) {
      std::fputs(c.help, stdout);
      return kExitOk;
    }
    return c.run(o);
  }
  PrintError("unknown subcommand '" + o.command + "' (see 'kestrix-inspect --help')");
  return kExitError;
}

}  // namespace
}  // namespace inspect

int main(int argc, char** argv) { return inspect::Main(argc, argv); }
