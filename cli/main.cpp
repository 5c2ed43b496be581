// imgfilter: the command-line face of the library.
//   imgfilter FILTER [--PARAM VALUE] [OPTIONS] INPUT OUTPUT     ("-": stdin, stdout)
//   imgfilter FILTER [--PARAM VALUE] -o OUTDIR [OPTIONS] INPUT...
// Exit status: 0 success, 1 the library reported a failure (its message on
// stderr; in batch mode: any file failed), 2 the command line was wrong
// (including a parameter the library refuses: checked before any file),
// 128 + N when batch mode was stopped by signal N.
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "batch.h"
#include "commands.h"
#include "filter_file.h"
#include "imgfilter.h"
#include "json_report.h"
#include "unwritable_extension.h"
#include "parameter_check.h"

namespace {

constexpr int k_exit_failure = 1;
constexpr int k_exit_usage = 2;

const char* const k_batch_options = "-o OUTDIR [--format jpg|png|bmp] [-j N] [-q] [-n] [--overwrite] INPUT...";

void print_usage_line(std::FILE* out, const filter_command* command) {
    if (!command) {
        std::fprintf(out, "usage: imgfilter FILTER [--PARAM VALUE] INPUT OUTPUT  (imgfilter --help lists filters)\n");
        return;
    }
    char param[64] = "";
    if (command->kind != param_kind::none)
        std::snprintf(param, sizeof param, " [%s %s]", command->flag,
                      command->kind == param_kind::weights ? "W1,W2,..." : "VALUE");
    std::fprintf(out, "usage: imgfilter %s%s INPUT OUTPUT\n", command->name, param);
    std::fprintf(out, "       imgfilter %s%s %s\n", command->name, param, k_batch_options);
}

int usage_error(const filter_command* command, const char* fmt, const char* detail) {
    std::fprintf(stderr, "imgfilter: ");
    std::fprintf(stderr, fmt, detail);
    std::fprintf(stderr, "\n");
    print_usage_line(stderr, command);
    return k_exit_usage;
}

void print_overview() {
    std::printf("imgfilter %d.%d.%d: apply an image filter to a JPEG, PNG or BMP file.\n\n", IMGFILTER_VERSION_MAJOR,
                IMGFILTER_VERSION_MINOR, IMGFILTER_VERSION_PATCH);
    std::printf("Usage: imgfilter FILTER [--PARAM VALUE] INPUT OUTPUT\n");
    std::printf("  or:  imgfilter FILTER [--PARAM VALUE] %s\n", k_batch_options);
    std::printf("  or:  imgfilter FILTER --help | imgfilter --help | imgfilter --version\n\n");
    std::printf("The output format follows OUTPUT's extension (.jpg .jpeg .png .bmp), else the input's;\n");
    std::printf("other image extensions (.webp .tiff .gif ...) are refused. INPUT '-' reads standard input,\n");
    std::printf("OUTPUT '-' writes standard output (in --format jpg|png|bmp, else the input's format).\n\n");
    std::printf("Metadata (JPEG and PNG, into JPEG and PNG outputs):\n");
    std::printf("  by default the EXIF block (orientation, dates, camera, copyright) and the ICC colour\n");
    std::printf("  profile are carried over; the EXIF thumbnail never is, the GPS location only with\n");
    std::printf("  --keep-metadata=all\n");
    std::printf("  --strip                carry no metadata at all\n\n");
    std::printf("Both forms:\n");
    std::printf("  -n, --no-clobber       leave an existing output alone (counted as skipped)\n");
    std::printf("  --json                 print one JSON object per file on stdout: input, output,\n");
    std::printf("                         status (written, failed, skipped) and message\n\n");
    std::printf("Many files at once (batch mode):\n");
    std::printf("  -o, --output-dir DIR   write each result to DIR under its input's file name\n");
    std::printf("                         (DIR is created if missing)\n");
    std::printf("  --format jpg|png|bmp   replace each output name's extension, choosing the format\n");
    std::printf("  -j, --jobs N           filter N files at a time, each in its own process (default 1)\n");
    std::printf("  -q, --quiet            no progress bar (it shows only on a terminal) and no summary;\n");
    std::printf("                         failures are still listed on stderr, one per file\n");
    std::printf("  --overwrite            let an output replace one of the inputs (refused otherwise)\n\n");
    std::printf("Filters:\n");
    for (std::size_t i = 0; i < k_command_count; ++i) {
        const filter_command& c = k_commands[i];
        std::printf("  %-12s %s\n", c.name, c.summary);
        if (c.kind != param_kind::none) {
            std::printf("  %-12s   %s: %s", "", c.flag, c.range);
            if (c.default_value) std::printf(" (default %s)", c.default_value);
            std::printf("\n");
        }
    }
    std::printf("\nFilter names may also be written with '_' (edge_detect, oil_paint).\n");
    std::printf("\nExit status: 0 when every output was written (or skipped); 1 when a file failed (the\n");
    std::printf("message goes to stderr, one line per file); 2 for a wrong command line or parameter,\n");
    std::printf("before any file is touched; 128 + N when batch mode was stopped by signal N (what was\n");
    std::printf("written stays, nothing partial is left).\n");
}

void print_command_help(const filter_command& c) {
    print_usage_line(stdout, &c);
    std::printf("\n%s: %s.\n\n%s\n", c.name, c.summary, c.details);
    if (c.kind != param_kind::none) {
        std::printf("\n  %s: %s\n", c.flag, c.range);
        if (c.default_value) std::printf("  default: %s\n", c.default_value);
    }
}

// The subcommands are spelt with '-'; the library's messages name the filters
// with '_' (edge_detect), and a user copying that name is understood too.
bool same_filter_name(const char* command_name, const char* given) {
    for (; *command_name && *given; ++command_name, ++given)
        if (*command_name != *given && !(*command_name == '-' && *given == '_')) return false;
    return *command_name == *given;
}

const filter_command* find_command(const char* name) {
    for (std::size_t i = 0; i < k_command_count; ++i)
        if (same_filter_name(k_commands[i].name, name)) return &k_commands[i];
    return nullptr;
}

bool parse_real(const char* text, float* value) {
    char* end = nullptr;
    errno = 0;
    *value = std::strtof(text, &end);
    return end != text && *end == '\0';
}

bool parse_integer(const char* text, int* value) {
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX) return false;
    *value = static_cast<int>(parsed);
    return true;
}

// "w1,w2,...": 9 or 25 numbers. On a bad list returns false with what was
// wrong in problem: the count, or the first item that is not a number.
bool parse_weights(const char* text, param_value* value, char* problem, std::size_t problem_size) {
    value->weight_count = 0;
    const char* cursor = text;
    for (;;) {
        if (value->weight_count == 25) {
            std::snprintf(problem, problem_size, "--weights takes 9 or 25 numbers, got more than 25");
            return false;
        }
        char* end = nullptr;
        const float weight = std::strtof(cursor, &end);
        if (end == cursor || (*end != ',' && *end != '\0')) {
            const int length = static_cast<int>(std::strcspn(cursor, ","));
            std::snprintf(problem, problem_size, "--weights: item %d, '%.*s', is not a number", value->weight_count + 1,
                          length, cursor);
            return false;
        }
        value->weights[value->weight_count++] = weight;
        if (*end == '\0') break;
        cursor = end + 1;
    }
    if (value->weight_count != 9 && value->weight_count != 25) {
        std::snprintf(problem, problem_size, "--weights takes 9 or 25 numbers, got %d", value->weight_count);
        return false;
    }
    return true;
}

int parse_value(const filter_command& c, const char* text, param_value* value) {
    switch (c.kind) {
        case param_kind::real:
            if (!parse_real(text, &value->real)) return usage_error(&c, "not a number: '%s'", text);
            break;
        case param_kind::integer:
            if (!parse_integer(text, &value->integer)) return usage_error(&c, "not a whole number: '%s'", text);
            break;
        case param_kind::weights:
        {
            char problem[128];
            if (!parse_weights(text, value, problem, sizeof problem)) return usage_error(&c, "%s", problem);
            break;
        }
        case param_kind::none: break;
    }
    return 0;
}

struct command_line {
    const char* param_text = nullptr;
    std::vector<const char*> paths;
    const char* output_dir = nullptr;
    const char* format = nullptr;
    const char* jobs = nullptr;
    const char* keep_metadata = nullptr;
    bool quiet = false;
    bool strip = false;
    bool overwrite = false;
    bool no_clobber = false;
    bool json = false;
};

// Matches "NAME VALUE" and "NAME=VALUE", and "-XVALUE" for a short name that
// allows it (-j4). 1 with *value set, 0 when arg is not this option, -1 when
// its value is missing.
int option_value(const char* name, bool glued, int argc, char** argv, int* i, const char** value) {
    const char* arg = argv[*i];
    const std::size_t length = std::strlen(name);
    if (std::strcmp(arg, name) == 0) {
        if (*i + 1 >= argc) return -1;
        *value = argv[++*i];
        return 1;
    }
    if (std::strncmp(arg, name, length) != 0) return 0;
    if (arg[length] == '=') {
        *value = arg + length + 1;
        return 1;
    }
    if (glued && length == 2) {
        *value = arg + length;
        return 1;
    }
    return 0;
}

bool known_format(const char* format) {
    for (const char* name : {"jpg", "jpeg", "png", "bmp"})
        if (std::strcmp(format, name) == 0) return true;
    return false;
}

// 0 when the arguments were read into *line, else the exit status to leave with
// (help printed: 0; wrong command line: 2).
int parse_command_line(const filter_command& c, int argc, char** argv, command_line* line, bool* help) {
    line->param_text = c.default_value;
    bool options_ended = false;
    for (int i = 0; i < argc; ++i) {
        const char* arg = argv[i];
        if (options_ended || arg[0] != '-' || arg[1] == '\0') {
            line->paths.push_back(arg);
            continue;
        }
        if (std::strcmp(arg, "--") == 0) {
            options_ended = true;
            continue;
        }
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            *help = true;
            return 0;
        }
        struct {
            const char* short_name;
            const char* long_name;
            bool* target;
        } const switches[] = {
            {"-q", "--quiet", &line->quiet},          {nullptr, "--strip", &line->strip},
            {nullptr, "--overwrite", &line->overwrite}, {"-n", "--no-clobber", &line->no_clobber},
            {nullptr, "--json", &line->json},
        };
        bool switched = false;
        for (const auto& option : switches) {
            if ((option.short_name && std::strcmp(arg, option.short_name) == 0) || std::strcmp(arg, option.long_name) == 0)
                switched = *option.target = true;
        }
        if (switched) continue;
        // Only -j takes its value glued on (-j4): "-out.png" is a mistyped file
        // name far more often than "-o ut.png".
        struct {
            const char* name;
            bool glued;
            const char** target;
        } const valued[] = {
            {c.flag, false, &line->param_text},    {"-o", false, &line->output_dir},
            {"--output-dir", false, &line->output_dir}, {"--format", false, &line->format},
            {"-j", true, &line->jobs},             {"--jobs", false, &line->jobs},
            {"--keep-metadata", false, &line->keep_metadata},
        };
        int matched = 0;
        for (const auto& option : valued) {
            if (!option.name) continue;  // a filter without a parameter has no flag
            matched = option_value(option.name, option.glued, argc, argv, &i, option.target);
            if (matched < 0) return usage_error(&c, "%s needs a value", option.name);
            if (matched) break;
        }
        if (!matched)
            return usage_error(&c, "unknown option '%s' (a file whose name starts with '-' goes after --)", arg);
    }
    return 0;
}

bool is_stdio(const char* path) { return std::strcmp(path, "-") == 0; }

// An output name asking for a format the library cannot write, refused before
// anything runs: a .webp file holding PNG bytes misleads every later program.
int refuse_unwritable(const filter_command& c, const char* output) {
    const char* extension = unwritable_extension(output);
    if (!extension) return 0;
    std::fprintf(stderr, "imgfilter: cannot write .%s files: '%s' (the output formats are jpg, png and bmp)\n",
                 extension, output);
    print_usage_line(stderr, &c);
    return k_exit_usage;
}

int run_single(const filter_command& c, const param_value& value, const command_line& line,
               const filter_file_options& options) {
    const char* input = line.paths[0];
    const char* output = line.paths[1];
    std::string message, note;
    bool read_cause = false;
    const char* status = "written";
    struct stat existing;
    if (line.no_clobber && !is_stdio(output) && lstat(output, &existing) == 0) {
        status = "skipped";
    } else if (!filter_file(c, value, input, output, options, &message, &read_cause, &note)) {
        status = "failed";
        // The system's cause is about the input: its name leads, as in batch mode.
        if (read_cause)
            std::fprintf(stderr, "imgfilter: %s: %s\n", input, message.c_str());
        else
            std::fprintf(stderr, "imgfilter: %s\n", message.c_str());
    } else if (!note.empty()) {
        std::fprintf(stderr, "imgfilter: %s: %s\n", input, note.c_str());
    }
    if (line.json) print_json_line(stdout, {input, output, status, message});
    return std::strcmp(status, "failed") == 0 ? k_exit_failure : 0;
}

int run_command(const filter_command& c, int argc, char** argv) {
    command_line line;
    bool help = false;
    if (const int status = parse_command_line(c, argc, argv, &line, &help)) return status;
    if (help) {
        print_command_help(c);
        return 0;
    }

    param_value value;
    if (c.kind != param_kind::none) {
        if (!line.param_text) return usage_error(&c, "%s is required", c.flag);
        if (const int status = parse_value(c, line.param_text, &value)) return status;
    }

    filter_file_options options;
    if (line.strip && line.keep_metadata) return usage_error(&c, "%s", "--strip and --keep-metadata exclude each other");
    if (line.strip) options.metadata = metadata_policy::strip;
    if (line.keep_metadata) {
        if (std::strcmp(line.keep_metadata, "all") == 0)
            options.metadata = metadata_policy::all;
        else if (std::strcmp(line.keep_metadata, "default") != 0)
            return usage_error(&c, "--keep-metadata takes all or default, not '%s'", line.keep_metadata);
    }
    if (line.format && !known_format(line.format))
        return usage_error(&c, "--format must be jpg, png or bmp, not '%s'", line.format);
    options.stdout_format = line.format;

    if (!line.output_dir) {
        if (line.jobs || line.quiet || line.overwrite)
            return usage_error(&c, "%s", "-j, --quiet and --overwrite go with -o OUTDIR");
        if (line.paths.size() < 2) return usage_error(&c, "%s", "needs an INPUT and an OUTPUT path");
        if (line.paths.size() > 2) return usage_error(&c, "unexpected argument '%s'", line.paths[2]);
        const char* output = line.paths[1];
        if (line.format && !is_stdio(output))
            return usage_error(&c, "%s", "--format goes with -o OUTDIR or the output '-'");
        if (line.json && is_stdio(output))
            return usage_error(&c, "%s", "--json needs stdout, which the output '-' takes");
        if (!is_stdio(output))
            if (const int status = refuse_unwritable(c, output)) return status;
    } else {
        if (*line.output_dir == '\0' || is_stdio(line.output_dir))
            return usage_error(&c, "%s", "-o needs a directory");
        if (line.paths.empty()) return usage_error(&c, "%s", "needs at least one INPUT with -o OUTDIR");
        for (const char* path : line.paths)
            if (is_stdio(path)) return usage_error(&c, "%s", "'-' (standard input) goes with the single-file form");
    }
    batch_request request;
    if (line.jobs && (!parse_integer(line.jobs, &request.jobs) || request.jobs < 1))
        return usage_error(&c, "-j needs a whole number of at least 1, not '%s'", line.jobs);

    // The parameter last among the checks, as it costs a trial run: all of
    // them come before any of the user's files is opened.
    std::string refusal;
    if (!parameter_accepted(c, value, &refusal)) return usage_error(&c, "%s", refusal.c_str());

    if (!line.output_dir) return run_single(c, value, line, options);

    request.command = &c;
    request.value = value;
    request.inputs = line.paths;
    request.output_dir = line.output_dir;
    request.quiet = line.quiet;
    request.format = line.format;
    request.overwrite = line.overwrite;
    request.no_clobber = line.no_clobber;
    request.json = line.json;
    request.file_options = options;
    request.file_options.stdout_format = nullptr;
    return run_batch(request);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage_error(nullptr, "%s", "no filter given");
    const char* first = argv[1];
    if (std::strcmp(first, "--help") == 0 || std::strcmp(first, "-h") == 0) {
        print_overview();
        return 0;
    }
    if (std::strcmp(first, "--version") == 0) {
        std::printf("imgfilter %d.%d.%d\n", IMGFILTER_VERSION_MAJOR, IMGFILTER_VERSION_MINOR, IMGFILTER_VERSION_PATCH);
        return 0;
    }
    const filter_command* command = find_command(first);
    if (!command) return usage_error(nullptr, "unknown filter '%s'", first);
    return run_command(*command, argc - 2, argv + 2);
}
