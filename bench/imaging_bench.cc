// Preparing camera photos for export: ten different 6000x4000 JPEGs of about 10 MB each (made at
// start, as testing/camera_photo.h makes them: sensor-like noise, EXIF orientation 6, GPS,
// serial), one photo and ten, to a long edge of 2048 px and to "Fit" (the selection within
// 5 MiB). Ours (libvips shrink-on-load, exiv2 for the metadata, photos prepared two at a time)
// against libvips's own `vipsthumbnail` run as a user would on two cores (two processes at once,
// each with half the photos; same edge and quality, no metadata), the libjpeg-turbo floor
// (`djpeg -scale M/8` at the smallest scale still as large as the edge, into `cjpeg -optimize`,
// two at a time: decoding and encoding alone, no resampling), ImageMagick's
// `/usr/bin/convert -resize` run once per photo as a host would run it (for Fit: at the size ours
// chose, with `-define jpeg:extent` at the photo's share), and against Qt's QImage (read with
// its orientation applied, `scaled` smoothly, saved at quality 85) when Qt 6 is here.
//
// Time is wall time per run of the whole selection; cpu_s the processor time it took, every thread
// and child process counted. peak_MiB is the largest resident set of a
// process doing that work, measured by GNU time: for ours and Qt a fresh child process that
// prepares the selection once (so it includes the program itself), for ImageMagick the largest of
// its convert processes.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

// Ten camera photos, each its own noise, in a temporary folder, made once.
struct Photos {
  fs::path folder;
  std::vector<std::string> paths;

  Photos() {
    std::string pattern = (fs::temp_directory_path() / "marigold-imaging-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no temporary folder");
    folder = pattern;
    for (int i = 0; i < 10; ++i) {
      const fs::path photo = folder / ("camera-" + std::to_string(i) + ".jpg");
      marigold::testing::writeCameraPhoto(photo, {.quality = 90 + i % 3});
      paths.push_back(photo.string());
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

// Runs programs side by side to their ends, each under GNU time, which reports its peak resident
// set. (The kernel's own figure for a child we start ourselves would also count our memory at the
// moment it started.) The status is the worst of theirs, the peak the largest.
Run runPrograms(const std::vector<std::vector<std::string>>& commands) {
  std::vector<std::pair<pid_t, std::string>> started;
  Run run;
  for (std::size_t i = 0; i < commands.size(); ++i) {
    const std::string report = (photos().folder / ("peak-" + std::to_string(i) + ".txt")).string();
    std::vector<std::string> args = {"/usr/bin/time", "-f", "%M", "-o", report};
    args.insert(args.end(), commands[i].begin(), commands[i].end());
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return run;
    started.emplace_back(pid, report);
  }
  run.status = 0;
  for (const auto& [pid, report] : started) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    long peak = 0;
    if (std::FILE* file = std::fopen(report.c_str(), "r")) {
      if (std::fscanf(file, "%ld", &peak) != 1) peak = 0;
      std::fclose(file);
    }
    run.peakKiB = std::max(run.peakKiB, peak);
  }
  return run;
}

Run runProgram(const std::vector<std::string>& command) { return runPrograms({command}); }

// Processor time, user and system, of this process (every thread) or of its finished children.
double cpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The photos split in two halves, for two processes at once as on two cores.
std::vector<std::vector<std::string>> halves(const std::vector<std::string>& sources) {
  const auto middle = sources.begin() + static_cast<long>((sources.size() + 1) / 2);
  std::vector<std::vector<std::string>> parts = {{sources.begin(), middle}};
  if (middle != sources.end()) parts.emplace_back(middle, sources.end());
  return parts;
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
  double cpu = 0;
  std::size_t encodes = 0, trials = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const fs::path out = photos().output("ours");
    state.ResumeTiming();
    const double before = cpuSeconds(RUSAGE_SELF);
    const auto result = prepareOurs(sources, out, size);
    cpu += cpuSeconds(RUSAGE_SELF) - before;
    bytes = result.totalBytes();
    encodes = result.encodes;
    trials = result.trialEncodes;
    if (result.photos.size() != count || !result.leftOut().empty()) {
      state.SkipWithError("a photo was not prepared");
      return;
    }
  }
  state.counters["output_MiB"] = static_cast<double>(bytes) / 1048576.0;
  state.counters["cpu_s"] = cpu / static_cast<double>(state.iterations());
  state.counters["encodes"] = static_cast<double>(encodes);
  state.counters["trial_encodes"] = static_cast<double>(trials);
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
  double cpu = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const fs::path out = photos().output("vipsthumbnail");
    state.ResumeTiming();
    std::vector<std::vector<std::string>> commands;
    for (const auto& half : halves(sources)) {
      std::vector<std::string> args = {kVipsThumbnail, "--size", std::to_string(edge), "-o",
                                       (out / "%s.jpg[Q=85,strip,optimize_coding]").string()};
      args.insert(args.end(), half.begin(), half.end());
      commands.push_back(std::move(args));
    }
    const double before = cpuSeconds(RUSAGE_CHILDREN);
    const Run run = runPrograms(commands);
    cpu += cpuSeconds(RUSAGE_CHILDREN) - before;
    if (run.status != 0) {
      state.SkipWithError("vipsthumbnail failed");
      return;
    }
    peak = std::max(peak, run.peakKiB);
  }
  state.counters["edge"] = edge;
  state.counters["cpu_s"] = cpu / static_cast<double>(state.iterations());
  state.counters["peak_MiB"] = mib(peak);
}

// The floor: libjpeg-turbo alone, each photo decoded at the smallest of its 1/8 steps still as
// large as the edge and encoded as it comes out (quality 85, optimized tables), two processes at
// once. No resampling, no orientation, no metadata: what decoding and encoding cost by
// themselves.
void BM_JpegFloor(benchmark::State& state, PhotoSize size) {
  const auto count = static_cast<std::size_t>(state.range(0));
  const auto sources = photos().first(count);
  const int edge = size == PhotoSize::kFit ? fitChoice(count).longEdge : 2048;
  const int eighths = std::clamp(static_cast<int>(std::ceil(edge * 8.0 / 6000)), 1, 8);
  double cpu = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const fs::path out = photos().output("floor");
    state.ResumeTiming();
    std::vector<std::vector<std::string>> commands;
    for (const auto& half : halves(sources)) {
      std::string script;
      for (const auto& photo : half) {
        script += "djpeg -scale " + std::to_string(eighths) + "/8 '" + photo +
                  "' | cjpeg -quality 85 -optimize -outfile '" +
                  (out / fs::path(photo).filename()).string() + "' && ";
      }
      commands.push_back({"/bin/sh", "-c", script + "true"});
    }
    const double before = cpuSeconds(RUSAGE_CHILDREN);
    const Run run = runPrograms(commands);
    cpu += cpuSeconds(RUSAGE_CHILDREN) - before;
    if (run.status != 0) {
      state.SkipWithError("djpeg or cjpeg failed (libjpeg-turbo-progs)");
      return;
    }
  }
  state.counters["edge"] = edge;
  state.counters["cpu_s"] = cpu / static_cast<double>(state.iterations());
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
BENCHMARK_CAPTURE(BM_JpegFloor, to_2048, PhotoSize::kLongEdge2048)
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
BENCHMARK_CAPTURE(BM_JpegFloor, fit, PhotoSize::kFit)
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
