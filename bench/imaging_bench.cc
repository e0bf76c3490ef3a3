// Preparing camera photos for export: a 6000x4000 JPEG of about 10 MB (made at start, as
// testing/camera_photo.h makes them: EXIF orientation 6, GPS, serial), one photo and ten, to a
// long edge of 2048 px and to "Fit" (the selection within 5 MiB). Ours (libvips shrink-on-load,
// exiv2 for the metadata, photos prepared two at a time) against libvips's own `vipsthumbnail`
// (all photos in one process, same edge and quality, no metadata), ImageMagick's
// `/usr/bin/convert -resize` run once per photo as a host would run it (for Fit: at the size ours
// chose, with `-define jpeg:extent` at the photo's share), and against Qt's QImage (read with
// its orientation applied, `scaled` smoothly, saved at quality 85) when Qt 6 is here.
//
// Time is wall time per run of the whole selection. peak_MiB is the largest resident set of a
// process doing that work, measured by GNU time: for ours and Qt a fresh child process that
// prepares the selection once (so it includes the program itself), for ImageMagick the largest of
// its convert processes.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/photo_preparation.h"
#include "testing/camera_photo.h"

#ifdef MARIGOLD_BENCH_QT
#include <QImage>
#include <QImageReader>
#endif

extern char** environ;

namespace {

namespace fs = std::filesystem;
using marigold::imaging::PhotoSize;

constexpr const char* kConvert = "/usr/bin/convert";
constexpr const char* kVipsThumbnail = "/usr/bin/vipsthumbnail";
constexpr std::uint64_t kLimit = marigold::imaging::kDefaultByteLimit;

std::string selfPath;

// Ten camera photos (copies of one) in a temporary folder, made once.
struct Photos {
  fs::path folder;
  std::vector<std::string> paths;

  Photos() {
    std::string pattern = (fs::temp_directory_path() / "marigold-imaging-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no temporary folder");
    folder = pattern;
    const fs::path first = folder / "camera-0.jpg";
    marigold::testing::writeCameraPhoto(first);
    paths.push_back(first.string());
    for (int i = 1; i < 10; ++i) {
      const fs::path copy = folder / ("camera-" + std::to_string(i) + ".jpg");
      fs::copy_file(first, copy);
      paths.push_back(copy.string());
    }
  }
  ~Photos() {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }
  std::vector<std::string> first(std::size_t count) const {
    return {paths.begin(), paths.begin() + static_cast<long>(count)};
  }
  fs::path output(const std::string& name) const {
    const fs::path out = folder / name;
    fs::remove_all(out);
    fs::create_directories(out);
    return out;
  }
};

const Photos& photos() {
  static const Photos made;
  return made;
}

struct Run {
  int status = -1;
  long peakKiB = 0;
};

// Runs a program to its end under GNU time, which reports its peak resident set. (The kernel's
// own figure for a child we start ourselves would also count our memory at the moment it started.)
Run runProgram(const std::vector<std::string>& command) {
  const std::string report = (photos().folder / "peak.txt").string();
  std::vector<std::string> args = {"/usr/bin/time", "-f", "%M", "-o", report};
  args.insert(args.end(), command.begin(), command.end());
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  Run run;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return run;
  int status = 0;
  if (waitpid(pid, &status, 0) == pid) {
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (std::FILE* file = std::fopen(report.c_str(), "r")) {
      if (std::fscanf(file, "%ld", &run.peakKiB) != 1) run.peakKiB = 0;
      std::fclose(file);
    }
  }
  return run;
}

marigold::imaging::PreparationResult prepareOurs(const std::vector<std::string>& sources,
                                                 const fs::path& out, PhotoSize size) {
  marigold::imaging::PreparationOptions options;
  options.size = size;
  return marigold::imaging::preparePhotos(sources, out, options);
}

// The edge and share ours picks for Fit, which ImageMagick is then given.
struct FitChoice {
  int longEdge = 2048;
  std::uint64_t share = kLimit;
};

FitChoice fitChoice(std::size_t count) {
  const auto result =
      prepareOurs(photos().first(count), photos().output("fit-choice"), PhotoSize::kFit);
  FitChoice choice;
  choice.share = kLimit / count;
  if (!result.photos.empty()) choice.longEdge = result.photos.front().longEdge();
  return choice;
}

double mib(long kib) { return static_cast<double>(kib) / 1024.0; }

// The same work in a fresh process, for its peak memory: this program run as a child.
// `edge` is the long edge Qt scales to.
long childPeakKiB(const std::string& mode, PhotoSize size, std::size_t count, int edge = 0) {
  std::vector<std::string> args = {selfPath,
                                   "--peak-child",
                                   mode,
                                   std::string(marigold::imaging::photoSizeName(size)),
                                   std::to_string(edge),
                                   photos().output("child").string()};
  for (const auto& p : photos().first(count)) args.push_back(p);
  const Run run = runProgram(args);
  return run.status == 0 ? run.peakKiB : -1;
}

void BM_Ours(benchmark::State& state, PhotoSize size) {
  const auto count = static_cast<std::size_t>(state.range(0));
  const auto sources = photos().first(count);
  std::uint64_t bytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const fs::path out = photos().output("ours");
    state.ResumeTiming();
    const auto result = prepareOurs(sources, out, size);
    bytes = result.totalBytes();
    if (result.photos.size() != count || !result.leftOut().empty()) {
      state.SkipWithError("a photo was not prepared");
      return;
    }
  }
  state.counters["output_MiB"] = static_cast<double>(bytes) / 1048576.0;
  state.counters["peak_MiB"] = mib(childPeakKiB("ours", size, count));
}

void BM_ImageMagick(benchmark::State& state, PhotoSize size) {
  const auto count = static_cast<std::size_t>(state.range(0));
  const auto sources = photos().first(count);
  FitChoice fit;
  if (size == PhotoSize::kFit) fit = fitChoice(count);
  const std::string geometry =
      std::to_string(fit.longEdge) + "x" + std::to_string(fit.longEdge) + ">";
  long peak = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const fs::path out = photos().output("imagemagick");
    state.ResumeTiming();
    for (std::size_t i = 0; i < count; ++i) {
      std::vector<std::string> args = {kConvert,   sources[i], "-auto-orient", "-resize", geometry,
                                       "-quality", "85"};
      if (size == PhotoSize::kFit) {
        args.push_back("-define");
        args.push_back("jpeg:extent=" + std::to_string(fit.share));
      }
      args.push_back((out / (std::to_string(i) + ".jpg")).string());
      const Run run = runProgram(args);
      if (run.status != 0) {
        state.SkipWithError("convert failed");
        return;
      }
      peak = std::max(peak, run.peakKiB);
    }
  }
  state.counters["peak_MiB"] = mib(peak);
}

// libvips's own program doing the plain job: every photo of the selection in one process, to the
// same long edge (for Fit: the edge ours chose) at quality 85, metadata stripped. It neither fits
// a size nor keeps any metadata: the floor ours is measured against.
void BM_VipsThumbnail(benchmark::State& state, PhotoSize size) {
  const auto count = static_cast<std::size_t>(state.range(0));
  const auto sources = photos().first(count);
  const int edge = size == PhotoSize::kFit ? fitChoice(count).longEdge : 2048;
  long peak = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const fs::path out = photos().output("vipsthumbnail");
    state.ResumeTiming();
    std::vector<std::string> args = {kVipsThumbnail, "--size", std::to_string(edge), "-o",
                                     (out / "%s.jpg[Q=85,strip,optimize_coding]").string()};
    args.insert(args.end(), sources.begin(), sources.end());
    const Run run = runProgram(args);
    if (run.status != 0) {
      state.SkipWithError("vipsthumbnail failed");
      return;
    }
    peak = std::max(peak, run.peakKiB);
  }
  state.counters["edge"] = edge;
  state.counters["peak_MiB"] = mib(peak);
}

#ifdef MARIGOLD_BENCH_QT
bool prepareWithQt(const std::vector<std::string>& sources, const fs::path& out, int longEdge) {
  for (std::size_t i = 0; i < sources.size(); ++i) {
    QImageReader reader(QString::fromStdString(sources[i]));
    reader.setAutoTransform(true);
    const QImage image = reader.read();
    if (image.isNull()) return false;
    const QImage scaled =
        image.scaled(longEdge, longEdge, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    if (!scaled.save(QString::fromStdString((out / (std::to_string(i) + ".jpg")).string()), "JPEG",
                     85)) {
      return false;
    }
  }
  return true;
}

void BM_QImage(benchmark::State& state, PhotoSize size) {
  const auto count = static_cast<std::size_t>(state.range(0));
  const auto sources = photos().first(count);
  const int edge = size == PhotoSize::kFit ? fitChoice(count).longEdge : 2048;
  for (auto _ : state) {
    state.PauseTiming();
    const fs::path out = photos().output("qt");
    state.ResumeTiming();
    if (!prepareWithQt(sources, out, edge)) {
      state.SkipWithError("QImage failed");
      return;
    }
  }
  state.counters["peak_MiB"] = mib(childPeakKiB("qt", size, count, edge));
}
#endif

// What the window does when the user removes the last photo of the selection: the rest prepared
// again with what the first preparation kept (imaging::PreparationCache). Time is that second
// preparation; decodes how often it decoded a file (none: Fit encodes again from the held
// pictures), held_MiB the pixels the cache holds, peak_MiB a fresh process doing both.
void BM_OursAfterRemoval(benchmark::State& state, PhotoSize size) {
  const auto count = static_cast<std::size_t>(state.range(0));
  const auto sources = photos().first(count);
  const std::vector<std::string> rest(sources.begin(), sources.end() - 1);
  marigold::imaging::PreparationOptions options;
  options.size = size;
  std::size_t decodes = 0;
  std::uint64_t held = 0;
  for (auto _ : state) {
    state.PauseTiming();
    marigold::imaging::PreparationCache cache(photos().output("kept"));
    (void)marigold::imaging::preparePhotos(sources, photos().output("first"), options, {}, &cache);
    const fs::path out = photos().output("again");
    state.ResumeTiming();
    const auto result = marigold::imaging::preparePhotos(rest, out, options, {}, &cache);
    decodes = result.decodes;
    held = cache.heldPixelBytes();
  }
  state.counters["decodes"] = static_cast<double>(decodes);
  state.counters["held_MiB"] = static_cast<double>(held) / 1048576.0;
  state.counters["peak_MiB"] = mib(childPeakKiB("ours-kept", size, count));
}

// The child of childPeakKiB: --peak-child MODE SIZE EDGE OUT PHOTO...
int peakChild(int argc, char** argv) {
  if (argc < 7) return 2;
  const std::string mode = argv[2];
  const PhotoSize size =
      marigold::imaging::photoSizeFromName(argv[3]).value_or(PhotoSize::kLongEdge2048);
  const fs::path out = argv[5];
  const std::vector<std::string> sources(argv + 6, argv + argc);
#ifdef MARIGOLD_BENCH_QT
  if (mode == "qt") return prepareWithQt(sources, out, std::stoi(argv[4])) ? 0 : 1;
#endif
  if (mode == "ours-kept") {
    marigold::imaging::PreparationOptions options;
    options.size = size;
    marigold::imaging::PreparationCache cache(out / "kept");
    fs::create_directories(out / "first");
    fs::create_directories(out / "again");
    const std::vector<std::string> rest(sources.begin(), sources.end() - 1);
    const auto first =
        marigold::imaging::preparePhotos(sources, out / "first", options, {}, &cache);
    const auto again = marigold::imaging::preparePhotos(rest, out / "again", options, {}, &cache);
    std::fprintf(stderr, "decodes %zu then %zu, %.1f MiB of pictures held\n", first.decodes,
                 again.decodes, static_cast<double>(cache.heldPixelBytes()) / 1048576.0);
    return first.leftOut().empty() && again.leftOut().empty() ? 0 : 1;
  }
  const auto result = prepareOurs(sources, out, size);
  return mode == "ours" && result.leftOut().empty() ? 0 : 1;
}

}  // namespace

BENCHMARK_CAPTURE(BM_Ours, to_2048, PhotoSize::kLongEdge2048)
    ->Arg(1)
    ->Arg(10)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_VipsThumbnail, to_2048, PhotoSize::kLongEdge2048)
    ->Arg(1)
    ->Arg(10)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ImageMagick, to_2048, PhotoSize::kLongEdge2048)
    ->Arg(1)
    ->Arg(10)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
#ifdef MARIGOLD_BENCH_QT
BENCHMARK_CAPTURE(BM_QImage, to_2048, PhotoSize::kLongEdge2048)
    ->Arg(1)
    ->Arg(10)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
#endif
BENCHMARK_CAPTURE(BM_Ours, fit, PhotoSize::kFit)
    ->Arg(1)
    ->Arg(10)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OursAfterRemoval, fit, PhotoSize::kFit)
    ->Arg(10)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OursAfterRemoval, to_2048, PhotoSize::kLongEdge2048)
    ->Arg(10)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_VipsThumbnail, fit, PhotoSize::kFit)
    ->Arg(1)
    ->Arg(10)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ImageMagick, fit, PhotoSize::kFit)
    ->Arg(1)
    ->Arg(10)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
#ifdef MARIGOLD_BENCH_QT
BENCHMARK_CAPTURE(BM_QImage, fit, PhotoSize::kFit)
    ->Arg(1)
    ->Arg(10)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
#endif

int main(int argc, char** argv) {
  selfPath = fs::canonical("/proc/self/exe").string();
  if (argc > 1 && std::string(argv[1]) == "--peak-child") return peakChild(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
