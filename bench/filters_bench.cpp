// Times every filter's worker on a 4000x3000 photograph decoded in memory
// (filter only), and whole calls through the exported functions from a file to
// a file of the same format. Run with --reference to time the plain reference
// loops as well (slow: oil paint at radius 30 takes minutes), and with
// --path=avx2 (portable, avx2, avx512; may be repeated) to time other compiled
// variants of the fast paths than the one the library would pick. With
// --baseline=path/to/libimgfilter.so.1 every whole call is also timed in that
// other build of the library, and the ratios are printed at the end.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "exported_calls.h"
#include "filter_table.h"
#include "filters/filter.h"
#include "heap_peak.h"
#include "imgfilter.h"
#include "photo.h"
#include "stb_image_write.h"
#ifdef IMGFILTER_BENCH_OPENCV
#  include "opencv_peers.h"
#endif

namespace {

constexpr int k_width = 4000;
constexpr int k_height = 3000;
constexpr double k_megapixels = k_width * static_cast<double>(k_height) / 1e6;

const std::vector<unsigned char>& photo() {
    static const std::vector<unsigned char> pixels = make_photo(k_width, k_height);
    return pixels;
}

const float k_sharpen_3x3[9] = {0, -1, 0, -1, 5, -1, 0, -1, 0};
const float k_soft_5x5[25] = {1 / 25.f, 1 / 25.f, 1 / 25.f, 1 / 25.f, 1 / 25.f, 1 / 25.f, 1 / 25.f,
                              1 / 25.f, 1 / 25.f, 1 / 25.f, 1 / 25.f, 1 / 25.f, 1 / 25.f, 1 / 25.f,
                              1 / 25.f, 1 / 25.f, 1 / 25.f, 1 / 25.f, 1 / 25.f, 1 / 25.f, 1 / 25.f,
                              1 / 25.f, 1 / 25.f, 1 / 25.f, 1 / 25.f};

// What the benchmark times of a filter with one parameter value: its worker
// alone on the decoded photograph, and whole calls from a file to a file of
// the same format.
enum timed_rows : unsigned {
    k_worker = 1,
    k_bmp_call = 2,
    k_png_and_jpeg_calls = 4,
};

struct filter_case {
    filter_id id;
    filter_param value;
    unsigned rows;  // timed_rows

    const void* params() const { return value.record(filter_of(id).kind); }
    int run(filter_image* image, code_path path) const { return filter_of(id).worker_with(image, params(), path); }

    // The filter's name and the parameter value, e.g. "blur/1.5", "kernel/3x3", "emboss".
    std::string name() const {
        char text[32] = "";
        switch (filter_of(id).kind) {
            case param_kind::real: std::snprintf(text, sizeof text, "/%g", static_cast<double>(value.real)); break;
            case param_kind::integer: std::snprintf(text, sizeof text, "/%d", value.integer); break;
            case param_kind::weights:
                std::snprintf(text, sizeof text, "/%dx%d", value.grid.size, value.grid.size);
                break;
            case param_kind::none: break;
        }
        return filter_of(id).name + std::string(text);
    }
};

// Pixelate with blocks of 1 leaves the picture as it was: its whole calls time
// the pipeline alone.
constexpr filter_case k_cases[] = {
    {filter_id::pixelate, 1, k_bmp_call | k_png_and_jpeg_calls},
    {filter_id::vignette, 0.5f, k_worker | k_bmp_call},
    {filter_id::blur, 1.5f, k_worker | k_bmp_call | k_png_and_jpeg_calls},
    {filter_id::blur, 10.0f, k_worker | k_bmp_call},
    {filter_id::blur, 50.0f, k_worker},
    {filter_id::sharpen, 4.0f, k_worker | k_bmp_call},
    {filter_id::kernel, {k_sharpen_3x3, 3}, k_worker | k_bmp_call},
    {filter_id::kernel, {k_soft_5x5, 5}, k_worker},
    {filter_id::emboss, {}, k_worker | k_bmp_call},
    {filter_id::edge_detect, {}, k_worker | k_bmp_call},
    {filter_id::denoise, 3, k_worker | k_bmp_call},
    {filter_id::denoise, 8, k_worker},
    {filter_id::pixelate, 16, k_worker | k_bmp_call},
    {filter_id::oil_paint, 3, k_worker | k_bmp_call},
    {filter_id::oil_paint, 10, k_worker},
    {filter_id::oil_paint, 30, k_worker},
};
static_assert(has_row_for_every_filter(k_cases), "every filter needs its parameter values to time");

constexpr double k_bytes_per_megabyte = 1e6;

// The decoded image is copied into a fresh block outside the timed region, as
// the pipeline would hand it over; the worker's own allocations are timed.
// "extra MB" is the most the worker held at once beyond that image: its
// scratch, and its output buffer if it does not work in place.
void filter_only(benchmark::State& state, const filter_case& c, code_path path) {
    const std::vector<unsigned char>& source = photo();
    long long extra = 0;
    for (auto _ : state) {
        state.PauseTiming();
        filter_image image{k_width, k_height, static_cast<unsigned char*>(std::malloc(source.size()))};
        std::memcpy(image.pixels, source.data(), source.size());
        heap_peak_reset();
        state.ResumeTiming();
        if (!c.run(&image, path)) state.SkipWithError(imgfilter_last_error());
        benchmark::DoNotOptimize(image.pixels);
        state.PauseTiming();
        if (heap_peak_bytes() > extra) extra = heap_peak_bytes();
        std::free(image.pixels);
        state.ResumeTiming();
    }
    state.counters["MP/s"] = benchmark::Counter(k_megapixels, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["extra MB"] = static_cast<double>(extra) / k_bytes_per_megabyte;
}

// The benchmark's files (the photograph in each format, the outputs), in a
// directory of their own that goes with them when the program ends.
struct scratch_directory {
    std::string path;
    scratch_directory() {
        char pattern[] = "/tmp/imgfilter-bench-XXXXXX";
        if (!mkdtemp(pattern)) {
            std::perror("imgfilter_bench: cannot make a scratch directory");
            std::exit(1);
        }
        path = pattern;
    }
    ~scratch_directory() {
        for (const char* kind : {"photo", "out"})
            for (const char* extension : {"bmp", "png", "jpg"})
                unlink((path + "/" + kind + "." + extension).c_str());
        rmdir(path.c_str());
    }
};

std::string scratch_path(const char* name) {
    static const scratch_directory dir;
    return dir.path + "/" + name;
}

// The photograph as a file of each format, written once.
std::string photo_file(const char* extension) {
    const std::string path = scratch_path((std::string("photo.") + extension).c_str());
    if (access(path.c_str(), F_OK) == 0) return path;
    const unsigned char* p = photo().data();
    const std::string e = extension;
    const int ok = e == "bmp"   ? stbi_write_bmp(path.c_str(), k_width, k_height, 4, p)
                   : e == "png" ? stbi_write_png(path.c_str(), k_width, k_height, 4, p, k_width * 4)
                                : stbi_write_jpg(path.c_str(), k_width, k_height, 4, p, 92);
    if (!ok) std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return path;
}

// The exported functions the whole-call rows call, by filter: those of the
// library this program is linked with or, for the baseline rows, of another
// build of it.
struct library_calls {
    exported_function function[k_filter_count];

    library_calls() {
        for (const filter_entry& filter : k_filters) function[static_cast<int>(filter.id)] = linked_function(filter.id);
    }
};

// The same calls from the library at path, loaded beside the linked one
// (its own calls stay within it: it has no relocations against its exports).
bool load_calls(const char* path, library_calls* calls) {
    void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::fprintf(stderr, "imgfilter_bench: %s\n", dlerror());
        return false;
    }
    for (const filter_entry& filter : k_filters) {
        const std::string symbol = std::string("imgfilter_") + filter.name;
        void* found = dlsym(library, symbol.c_str());
        if (!found) {
            std::fprintf(stderr, "imgfilter_bench: %s has no %s\n", path, symbol.c_str());
            return false;
        }
        calls->function[static_cast<int>(filter.id)] = reinterpret_cast<exported_function>(found);
    }
    return true;
}

// The case of that name's whole call, or 0 (a failed call) for no case.
int call_filter(const library_calls& lib, const char* name, const char* in, const char* out) {
    for (const filter_case& c : k_cases)
        if (c.name() == name) return call_exported(c.id, lib.function[static_cast<int>(c.id)], in, out, c.params());
    return 0;
}

double clock_ms(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// The child's side of a whole call: one call in a process that has done
// nothing else, its times and heap peak printed as one line for the parent.
// With a library path, the call is that library's.
int first_call(const char* filter, const char* in, const char* out, const char* library) {
    library_calls lib;
    if (library && !load_calls(library, &lib)) return 1;
    heap_peak_reset();
    const double real = clock_ms(CLOCK_MONOTONIC);
    const double cpu = clock_ms(CLOCK_PROCESS_CPUTIME_ID);
    const int ok = call_filter(lib, filter, in, out);
    std::printf("%d %.6f %.6f %lld\n", ok, clock_ms(CLOCK_MONOTONIC) - real, clock_ms(CLOCK_PROCESS_CPUTIME_ID) - cpu,
                heap_peak_bytes());
    return ok ? 0 : 1;
}

struct call_result {
    int ok = 0;
    double real_ms = 0, cpu_ms = 0;
    long long peak = 0;
};

// Runs first_call in a fresh copy of this program (started again with
// --first-call), so that the call sees what a host's first call sees: every
// block it takes is new to the process and faults its pages in as it first
// touches them, and nothing is left over from earlier runs to reuse.
call_result run_first_call(const std::string& filter, const std::string& in, const std::string& out,
                           const std::string& library) {
    call_result result;
    int channel[2];
    if (pipe(channel) != 0) return result;
    const pid_t child = fork();
    if (child == 0) {
        dup2(channel[1], STDOUT_FILENO);
        close(channel[0]);
        close(channel[1]);
        execl("/proc/self/exe", "imgfilter_bench", "--first-call", filter.c_str(), in.c_str(), out.c_str(),
              library.empty() ? static_cast<char*>(nullptr) : library.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(channel[1]);
    if (child > 0) {
        char line[128] = {};
        FILE* from_child = fdopen(channel[0], "r");
        if (from_child) {
            if (!std::fgets(line, sizeof line, from_child) ||
                std::sscanf(line, "%d %lf %lf %lld", &result.ok, &result.real_ms, &result.cpu_ms, &result.peak) != 4)
                result.ok = 0;
            std::fclose(from_child);
        } else {
            close(channel[0]);
        }
        int status = 0;
        waitpid(child, &status, 0);
    } else {
        close(channel[0]);
    }
    return result;
}

// Times are the child's own, of the call alone (not of starting the process):
// the benchmark's time is the call's real time, "cpu ms" its CPU time (page
// faults included), "peak MB" the most it held on the heap at once.
void whole_call(benchmark::State& state, const std::string& filter, const char* extension, const std::string& library) {
    const std::string in = photo_file(extension);
    const std::string out = scratch_path((std::string("out.") + extension).c_str());
    long long peak = 0;
    double cpu = 0;
    for (auto _ : state) {
        const call_result call = run_first_call(filter, in, out, library);
        if (!call.ok) {
            state.SkipWithError("the call failed");
            break;
        }
        state.SetIterationTime(call.real_ms / 1e3);
        cpu += call.cpu_ms;
        if (call.peak > peak) peak = call.peak;
    }
    state.counters["MP/s"] = benchmark::Counter(k_megapixels, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["cpu ms"] = benchmark::Counter(cpu, benchmark::Counter::kAvgIterations);
    state.counters["peak MB"] = static_cast<double>(peak) / k_bytes_per_megabyte;
}

const char* path_name(code_path path) {
    switch (path) {
        case code_path::reference: return "reference";
        case code_path::portable: return "portable";
        case code_path::avx2: return "avx2";
        default: return "avx512";
    }
}

// Each OpenCV operation runs right after the variants of the filter it is
// compared with, so that all of them see the shared machine in about the same
// state.
void register_all(std::vector<code_path> paths, bool with_reference, const std::string& baseline) {
    if (with_reference) paths.push_back(code_path::reference);
    for (const filter_case& c : k_cases) {
        if (!(c.rows & k_worker)) continue;
        for (code_path path : paths) {
            const std::string name = "filter/" + c.name() + "/" + path_name(path);
            benchmark::RegisterBenchmark(name.c_str(), filter_only, c, path)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
        }
#ifdef IMGFILTER_BENCH_OPENCV
        register_opencv_peer(c.name());
#endif
    }
    // Whole calls, each followed by the same call of the baseline build when
    // one is given, so that both see the machine in about the same state.
    const auto register_call = [&baseline](const char* extension, const std::string& filter) {
        const std::string name = std::string(extension) + "/" + filter;
        benchmark::RegisterBenchmark(("call/" + name).c_str(), whole_call, filter, extension, std::string())
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime();
        if (baseline.empty()) return;
        benchmark::RegisterBenchmark(("baseline/" + name).c_str(), whole_call, filter, extension, baseline)
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime();
    };
    for (const filter_case& c : k_cases)
        if (c.rows & k_bmp_call) register_call("bmp", c.name());
    for (const char* extension : {"png", "jpg"})
        for (const filter_case& c : k_cases)
            if (c.rows & k_png_and_jpeg_calls) register_call(extension, c.name());
}

// Keeps every benchmark's times so that the OpenCV comparison can be printed
// at the end: with --benchmark_repetitions, the smallest of the repetitions,
// the one least disturbed by whatever else the machine was doing.
class ratio_reporter : public benchmark::ConsoleReporter {
public:
    ratio_reporter() : benchmark::ConsoleReporter(OO_None) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate) continue;
            std::string name = run.benchmark_name();
            for (const std::string suffix : {"/real_time", "/manual_time"}) {
                const std::size_t kept = name.size() - suffix.size();
                if (name.size() > suffix.size() && name.compare(kept, suffix.size(), suffix) == 0) name.resize(kept);
            }
            const std::pair<double, double> now = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
            const auto known = times_.find(name);
            if (known == times_.end()) {
                times_[name] = now;
            } else {
                known->second.first = std::min(known->second.first, now.first);
                known->second.second = std::min(known->second.second, now.second);
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // Each whole call against the baseline build's, where both ran.
    void print_baseline_ratios() const {
        bool header = false;
        for (const auto& entry : times_) {
            if (entry.first.compare(0, 9, "baseline/") != 0) continue;
            const std::string call = entry.first.substr(9);
            const auto ours = times_.find("call/" + call);
            if (ours == times_.end()) continue;
            if (!header) {
                std::printf("\nwhole call / baseline build\n%-22s %10s %12s %8s\n", "call", "ms", "baseline ms",
                            "ratio");
                header = true;
            }
            std::printf("%-22s %10.1f %12.1f %8.2f\n", call.c_str(), ours->second.first, entry.second.first,
                        ours->second.first / entry.second.first);
        }
    }

    // imgfilter / OpenCV for every filter that has both.
    void print_ratios(code_path path) const {
        bool header = false;
        for (const auto& entry : times_) {
            if (entry.first.compare(0, 7, "opencv/") != 0) continue;
            const std::string filter = entry.first.substr(7);
            const auto ours = times_.find("filter/" + filter + "/" + path_name(path));
            if (ours == times_.end()) continue;
            if (!header) {
                std::printf("\nimgfilter (%s) / OpenCV\n", path_name(path));
                std::printf("%-16s %12s %12s %8s %12s %12s %8s\n", "filter", "imgfilter ms", "OpenCV ms", "ratio",
                            "imgf cpu ms", "OpenCV cpu", "ratio");
                header = true;
            }
            std::printf("%-16s %12.1f %12.1f %8.2f %12.1f %12.1f %8.2f\n", filter.c_str(), ours->second.first,
                        entry.second.first, ours->second.first / entry.second.first, ours->second.second,
                        entry.second.second, ours->second.second / entry.second.second);
        }
    }

private:
    std::map<std::string, std::pair<double, double>> times_;
};

}  // namespace

int main(int argc, char** argv) {
    if ((argc == 5 || argc == 6) && std::strcmp(argv[1], "--first-call") == 0)
        return first_call(argv[2], argv[3], argv[4], argc == 6 ? argv[5] : nullptr);
    bool with_reference = false;
    std::string baseline;
    std::vector<code_path> paths;
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        const char* known[] = {"portable", "avx2", "avx512"};
        const code_path known_path[] = {code_path::portable, code_path::avx2, code_path::avx512};
        if (std::strcmp(argv[i], "--reference") == 0) {
            with_reference = true;
        } else if (std::strncmp(argv[i], "--baseline=", 11) == 0) {
            baseline = argv[i] + 11;
        } else if (std::strncmp(argv[i], "--path=", 7) == 0) {
            int k = 0;
            while (k < 3 && std::strcmp(argv[i] + 7, known[k]) != 0) ++k;
            if (k == 3 || !code_path_available(known_path[k])) {
                std::fprintf(stderr, "%s: not a path this processor can run\n", argv[i]);
                return 1;
            }
            paths.push_back(known_path[k]);
        } else {
            args.push_back(argv[i]);
        }
    }
    if (paths.empty()) paths.push_back(fastest_code_path());
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
#ifdef IMGFILTER_BENCH_OPENCV
    prepare_opencv_peers(photo().data(), k_width, k_height);
#endif
    register_all(paths, with_reference, baseline);
    ratio_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.print_baseline_ratios();
    for (code_path path : paths) reporter.print_ratios(path);
    benchmark::Shutdown();
    return 0;
}
