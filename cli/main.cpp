// imgfilter: the command-line face of the library.
//   imgfilter FILTER [--PARAM VALUE] INPUT OUTPUT
// Exit status: 0 success, 1 the library reported a failure (its message on
// stderr), 2 the command line was wrong.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "commands.h"
#include "imgfilter.h"

namespace {

constexpr int k_exit_failure = 1;
constexpr int k_exit_usage = 2;

void print_usage_line(std::FILE* out, const filter_command* command) {
    if (!command) {
        std::fprintf(out, "usage: imgfilter FILTER [--PARAM VALUE] INPUT OUTPUT  (imgfilter --help lists filters)\n");
    } else if (command->kind == param_kind::none) {
        std::fprintf(out, "usage: imgfilter %s INPUT OUTPUT\n", command->name);
    } else {
        std::fprintf(out, "usage: imgfilter %s [%s %s] INPUT OUTPUT\n", command->name, command->flag,
                     command->kind == param_kind::weights ? "W1,W2,..." : "VALUE");
    }
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
    std::printf("usage: imgfilter FILTER [--PARAM VALUE] INPUT OUTPUT\n");
    std::printf("       imgfilter FILTER --help | imgfilter --help | imgfilter --version\n\n");
    std::printf("The output format follows OUTPUT's extension (.jpg .jpeg .png .bmp), else the input's.\n\n");
    std::printf("filters:\n");
    for (std::size_t i = 0; i < k_command_count; ++i) {
        const filter_command& c = k_commands[i];
        std::printf("  %-12s %s\n", c.name, c.summary);
        if (c.kind != param_kind::none) {
            std::printf("  %-12s   %s: %s", "", c.flag, c.range);
            if (c.default_value) std::printf(" (default %s)", c.default_value);
            std::printf("\n");
        }
    }
}

void print_command_help(const filter_command& c) {
    print_usage_line(stdout, &c);
    std::printf("\n%s: %s.\n\n%s\n", c.name, c.summary, c.details);
    if (c.kind != param_kind::none) {
        std::printf("\n  %s: %s\n", c.flag, c.range);
        if (c.default_value) std::printf("  default: %s\n", c.default_value);
    }
}

const filter_command* find_command(const char* name) {
    for (std::size_t i = 0; i < k_command_count; ++i)
        if (std::strcmp(k_commands[i].name, name) == 0) return &k_commands[i];
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

int run_command(const filter_command& c, int argc, char** argv) {
    param_value value;
    const char* param_text = c.default_value;
    const char* paths[2] = {nullptr, nullptr};
    int path_count = 0;
    for (int i = 0; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            print_command_help(c);
            return 0;
        }
        if (c.kind != param_kind::none && std::strcmp(arg, c.flag) == 0) {
            if (i + 1 >= argc) return usage_error(&c, "%s needs a value", c.flag);
            param_text = argv[++i];
        } else if (c.kind != param_kind::none && std::strncmp(arg, c.flag, std::strlen(c.flag)) == 0 &&
                   arg[std::strlen(c.flag)] == '=') {
            param_text = arg + std::strlen(c.flag) + 1;
        } else if (arg[0] == '-' && arg[1] != '\0' && std::strcmp(arg, "--") != 0) {
            return usage_error(&c, "unknown option '%s'", arg);
        } else {
            if (path_count == 2) return usage_error(&c, "unexpected argument '%s'", arg);
            paths[path_count++] = arg;
        }
    }
    if (path_count != 2) return usage_error(&c, "%s", "needs an INPUT and an OUTPUT path");
    if (c.kind != param_kind::none) {
        if (!param_text) return usage_error(&c, "%s is required", c.flag);
        if (const int status = parse_value(c, param_text, &value)) return status;
    }
    if (!c.run(paths[0], paths[1], value)) {
        std::fprintf(stderr, "imgfilter: %s\n", imgfilter_last_error());
        return k_exit_failure;
    }
    return 0;
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
