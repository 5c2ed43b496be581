// Several threads running different filters on different files at once write
// exactly the bytes that the same calls write one at a time: a call keeps all
// its state to itself. (Only the shared message is unordered, so it is not
// looked at here.)
#include <string>
#include <thread>
#include <vector>

#include "filter_calls.h"
#include "test_support.h"

namespace {

test_image pattern(int w, int h, int seed) {
    test_image image(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.set(x, y, {uint8_t(x * seed + y), uint8_t(y * 3 + seed), uint8_t((x ^ y) * 5), uint8_t(200 + x % 50)});
    return image;
}

}  // namespace

TEST(Concurrency, ParallelCallsWriteWhatSequentialCallsWrite) {
    scratch_dir dir;
    const std::vector<filter_call>& filters = every_filter();
    const char* const kinds[] = {"png", "jpg", "bmp"};
    struct job {
        const filter_call* call;
        std::string input;
        std::string output_stem;  // + round + extension
        std::vector<uint8_t> expected;
        std::string extension;
    };
    std::vector<job> jobs;
    for (size_t i = 0; i < filters.size(); ++i) {
        const std::string kind = kinds[i % 3];
        const std::string input = dir.path("in" + std::to_string(i) + "." + kind);
        const test_image image = pattern(64 + int(i) * 5, 48 + int(i) * 3, int(i) + 2);
        ASSERT_TRUE(kind == "png" ? write_png(input, image) : kind == "jpg" ? write_jpg(input, image)
                                                                            : write_bmp(input, image));
        const std::string sequential = dir.path("seq" + std::to_string(i) + "." + kinds[(i + 1) % 3]);
        ASSERT_EQ(filters[i].run(input.c_str(), sequential.c_str()), 1) << filters[i].name;
        jobs.push_back({&filters[i], input, dir.path("par" + std::to_string(i) + "-"), read_bytes(sequential),
                        std::string(".") + kinds[(i + 1) % 3]});
    }

    constexpr int k_rounds = 4;
    std::vector<std::vector<std::vector<uint8_t>>> written(jobs.size());
    std::vector<std::vector<int>> results(jobs.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < jobs.size(); ++i) {
        threads.emplace_back([&, i] {
            for (int round = 0; round < k_rounds; ++round) {
                const std::string output = jobs[i].output_stem + std::to_string(round) + jobs[i].extension;
                results[i].push_back(jobs[i].call->run(jobs[i].input.c_str(), output.c_str()));
                written[i].push_back(read_bytes(output));
            }
        });
    }
    for (std::thread& thread : threads) thread.join();

    for (size_t i = 0; i < jobs.size(); ++i) {
        for (int round = 0; round < k_rounds; ++round) {
            EXPECT_EQ(results[i][size_t(round)], 1) << jobs[i].call->name;
            EXPECT_TRUE(written[i][size_t(round)] == jobs[i].expected) << jobs[i].call->name << " round " << round;
        }
    }
}
