// Every input that ever crashed a filter, reached a fault of the decoder or
// cost seconds and gigabytes, through every filter, with the outcome that
// fuzz/regressions/file.outcomes names for it: filtered and written, refused
// for its signature, or refused with the exact reason. A refused file leaves
// no output and nothing else behind.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "filter_calls.h"
#include "imgfilter.h"
#include "stb_image.h"
#include "test_support.h"

namespace {

const std::string k_folder = std::string(IMGFILTER_FUZZ_REGRESSIONS) + "/file";

struct regression {
    std::string file;
    std::string outcome;  // "decodes", "unsupported" or "refused REASON"
};

std::vector<regression> manifest() {
    std::vector<regression> lines;
    std::ifstream in(k_folder + ".outcomes");
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        const std::size_t tab = line.find('\t');
        lines.push_back({line.substr(0, tab), tab == std::string::npos ? "" : line.substr(tab + 1)});
    }
    return lines;
}

// What ctest and a failure show of a case: its file.
void PrintTo(const regression& r, std::ostream* out) { *out << r.file; }

std::string test_name(const ::testing::TestParamInfo<regression>& info) {
    std::string name = info.param.file;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

class RegressionOutcomes : public ::testing::TestWithParam<regression> {
protected:
    scratch_dir dir;
};

}  // namespace

TEST_P(RegressionOutcomes, EveryFilterMeetsTheNamedOutcome) {
    const regression& r = GetParam();
    const std::vector<uint8_t> bytes = read_bytes(k_folder + "/" + r.file);
    ASSERT_FALSE(bytes.empty());
    const std::string in = dir.path("in.bin"), out = dir.path("out.png");
    ASSERT_TRUE(write_bytes(in, bytes));
    for (const filter_call& call : every_filter()) {
        SCOPED_TRACE(call.name);
        const int result = call.run(in.c_str(), out.c_str());
        const std::string message = imgfilter_last_error();
        if (r.outcome == "decodes") {
            ASSERT_EQ(result, 1) << message;
            EXPECT_EQ(message, "");
            int width = 0, height = 0, channels = 0;
            ASSERT_TRUE(stbi_info_from_memory(bytes.data(), int(bytes.size()), &width, &height, &channels));
            const test_image written = load_image(out);
            EXPECT_EQ(written.width, std::abs(width));
            EXPECT_EQ(written.height, std::abs(height));
            std::remove(out.c_str());
        } else if (r.outcome == "unsupported" || r.outcome.rfind("refused ", 0) == 0) {
            EXPECT_EQ(result, 0);
            const std::string cause = r.outcome == "unsupported"
                                          ? "unsupported image format for '" + in + "'"
                                          : "cannot decode '" + in + "' (" + r.outcome.substr(8) + ")";
            EXPECT_EQ(message, std::string(call.name) + ": " + cause);
        } else {
            FAIL() << "an outcome the manifest does not define: " << r.outcome;
        }
        EXPECT_EQ(list_dir(dir.root()), std::vector<std::string>{"in.bin"});  // no output, no temporary
    }
}

INSTANTIATE_TEST_SUITE_P(File, RegressionOutcomes, ::testing::ValuesIn(manifest()), test_name);

// A crasher joins the folder with its expected outcome, or the suite says so.
TEST(RegressionManifest, NamesEveryFileOnce) {
    std::multiset<std::string> named;
    for (const regression& r : manifest()) named.insert(r.file);
    const std::vector<std::string> files = list_dir(k_folder);
    EXPECT_EQ(named, std::multiset<std::string>(files.begin(), files.end()));
}
