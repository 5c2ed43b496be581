#include "filter_file.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <exception>

#include "decode/format_signature.h"
#include "encode/output_format.h"
#include "exif_cleaner.h"
#include "file_io.h"
#include "fs/write_output.h"
#include "imgfilter.h"
#include "library_result.h"
#include "metadata_jpeg.h"
#include "metadata_png.h"
#include "private_temp_dir.h"
#include "read_failure_cause.h"

namespace {

bool is_stdio(const char* path) { return std::strcmp(path, "-") == 0; }

// Metadata sits in front of the image data, mostly within its first
// kilobytes; a JPEG's ICC profile may take 255 segments of 64 KiB, hence the
// second, longer read when the header goes on past the first.
constexpr std::size_t k_first_read = 1u << 20;
constexpr std::size_t k_header_bytes = 2 * k_metadata_limit;

// What reading the input's metadata left out, for the line the user gets;
// empty when everything it holds could be read.
std::string unreadable_note(const image_metadata& found) {
    if (found.exif_unreadable && found.icc_unreadable) return "unreadable EXIF block and ICC profile left out";
    if (found.exif_unreadable) return "unreadable EXIF block left out";
    if (found.icc_unreadable) return "unreadable ICC profile left out";
    return {};
}

image_metadata read_metadata(const std::string& input, metadata_policy policy, image_format* input_format) {
    image_metadata found;
    std::string head;
    if (!read_file_start(input, k_first_read, &head)) return found;
    *input_format = detect_format(reinterpret_cast<const unsigned char*>(head.data()),
                                  static_cast<int>(head.size()));
    if (policy == metadata_policy::strip) return found;
    const auto read = [&](const std::string& bytes, bool* complete) {
        if (*input_format == image_format::jpeg) return read_jpeg_metadata(bytes, complete);
        if (*input_format == image_format::png) return read_png_metadata(bytes, complete);
        *complete = true;
        return image_metadata{};
    };
    bool complete = true;
    found = read(head, &complete);
    if (!complete && head.size() == k_first_read && read_file_start(input, k_header_bytes, &head))
        found = read(head, &complete);
    if (!found.exif.empty()) {
        bool readable = true;
        found.exif = cleaned_exif(found.exif, policy == metadata_policy::all, &readable);
        found.exif_unreadable = !readable;
    }
    return found;
}

// The metadata to carry, and in *note what was left out as unreadable. The
// image is filtered whatever the metadata holds: running out of memory on it,
// or any other failure to read it, leaves all of it out.
image_metadata carried_metadata(const std::string& input, metadata_policy policy, image_format* input_format,
                                std::string* note) {
    try {
        image_metadata found = read_metadata(input, policy, input_format);
        *note = unreadable_note(found);
        return found;
    } catch (const std::exception&) {
        *note = "unreadable metadata left out";
        return {};
    }
}

void replace_all(std::string* text, const std::string& from, const std::string& to) {
    if (from.empty()) return;
    for (std::size_t at = 0; (at = text->find(from, at)) != std::string::npos; at += to.size())
        text->replace(at, from.size(), to);
}

}  // namespace

bool filter_file(const filter_command& command, const param_value& value, const char* input, const char* output,
                 const filter_file_options& options, std::string* message, bool* read_cause, std::string* note) {
    *read_cause = false;
    note->clear();
    private_temp_dir temp;
    const bool from_stdin = is_stdio(input), to_stdout = is_stdio(output);
    std::string input_path = input;
    if (from_stdin) {
        std::string data;
        // The library reads at most INT_MAX bytes; so does this.
        if (!read_all(STDIN_FILENO, INT_MAX, &data)) {
            *message = std::string("cannot read standard input: ") + std::strerror(errno);
            return false;
        }
        if (!temp.create(message)) return false;
        input_path = temp.path("input");
        if (!write_private_file(input_path, data, message)) return false;
    }

    image_format input_format = image_format::unsupported;
    const image_metadata metadata = carried_metadata(input_path, options.metadata, &input_format, note);
    // The format the library will choose, by the very rule it applies.
    image_format output_format = image_format::unsupported;
    if (!to_stdout)
        output_format = choose_output_format(output, image_format::unsupported);
    else if (options.stdout_format)
        output_format = choose_output_format((std::string(".") + options.stdout_format).c_str(), image_format::unsupported);
    if (output_format == image_format::unsupported) output_format = input_format;
    const bool add_metadata =
        !metadata.empty() && (output_format == image_format::jpeg || output_format == image_format::png);

    // The user named neither temporary file: a refusal names what they gave.
    const auto refused = [&](const std::string& result_path) {
        std::string refusal = imgfilter_last_error();
        if (from_stdin) replace_all(&refusal, "'" + input_path + "'", "'-'");
        if (!result_path.empty()) replace_all(&refusal, "'" + result_path + "'", std::string("'") + output + "'");
        *message = failure_message(input_path.c_str(), refusal, read_cause);
        return false;
    };

    // The library writes straight to the user's path when the tool adds nothing.
    if (!to_stdout && !add_metadata) {
        if (command.run(input_path.c_str(), output, value)) return true;
        return refused("");
    }

    // Otherwise the library writes into memory, and the whole file, its bytes
    // with the metadata inserted, is written once the way the library writes:
    // whatever stands at the path gets the metadata, and a kill at any moment
    // leaves the old file or the new one.
    if (!from_stdin && !temp.create(message)) return false;
    library_result place;
    if (!place.prepare(temp, extension_of(output_format), message)) return false;
    if (!command.run(input_path.c_str(), place.path().c_str(), value)) return refused(place.path());
    std::string head;
    if (!place.open_written() || !place.read_start(k_insertion_head, &head)) {
        *message = "cannot read the filtered result back: " + std::string(std::strerror(errno));
        return false;
    }
    metadata_insertion insertion;
    if (add_metadata && output_format == image_format::jpeg)
        insertion = jpeg_metadata_insertion(head, place.size(), metadata);
    else if (add_metadata)
        insertion = png_metadata_insertion(head, place.size(), metadata);
    if (to_stdout) {
        errno = 0;
        const auto to_standard_output = [](const char* data, std::size_t size) {
            return write_all(STDOUT_FILENO, data, size);
        };
        if (place.emit(insertion, to_standard_output)) return true;
        *message = std::string("cannot write to standard output: ") + std::strerror(errno);
        return false;
    }
    struct composed {
        const library_result& place;
        const metadata_insertion& insertion;
    } file{place, insertion};
    const auto produce = [](const void* source, byte_sink* sink) {
        const composed& file = *static_cast<const composed*>(source);
        return file.place.emit(file.insertion, [sink](const char* data, std::size_t size) {
            sink->write(sink, data, static_cast<int>(size));  // pieces of at most 256 KiB
            return !sink->failed;
        });
    };
    errno = 0;
    if (write_output(output, file_content{produce, &file})) return true;
    const int cause = errno;
    *message = std::string("cannot write output file '") + output + "'";
    if (cause) *message += std::string(": ") + std::strerror(cause);
    return false;
}
