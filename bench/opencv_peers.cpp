#include "opencv_peers.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <functional>
#include <map>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/xphoto/oilpainting.hpp>
#include <string>

namespace {

constexpr double k_megapixels_per_pixel = 1e-6;

// Output buffers are made once, outside the timed loop, and reused.
void peer(benchmark::State& state, const std::function<void()>& operation, double megapixels) {
    for (auto _ : state) operation();
    state.counters["MP/s"] = benchmark::Counter(megapixels, benchmark::Counter::kIsIterationInvariantRate);
}

struct peer_operation {
    std::function<void()> operation;
    double megapixels;
};

std::map<std::string, peer_operation> s_peers;

void add(const std::string& name, std::function<void()> operation, double megapixels) {
    s_peers[name] = {std::move(operation), megapixels};
}

}  // namespace

void register_opencv_peer(const std::string& filter) {
    const auto found = s_peers.find(filter);
    if (found == s_peers.end()) return;
    benchmark::RegisterBenchmark(("opencv/" + filter).c_str(), peer, found->second.operation,
                                 found->second.megapixels)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
}

void prepare_opencv_peers(const unsigned char* rgba, int width, int height) {
    cv::setNumThreads(1);
    const double mp = static_cast<double>(width) * height * k_megapixels_per_pixel;
    // Kept alive for the whole run; the lambdas refer to them.
    static cv::Mat source, rgb, grey, factors, out4, out3, out1, dx, dy, fx, fy, magnitude, small;
    source = cv::Mat(height, width, CV_8UC4, const_cast<unsigned char*>(rgba)).clone();
    cv::cvtColor(source, rgb, cv::COLOR_RGBA2RGB);
    out4.create(height, width, CV_8UC4);
    out3.create(height, width, CV_8UC3);

    // Vignette: a precomputed factor per pixel (alpha 1), one multiplication.
    factors.create(height, width, CV_32FC4);
    const float cx = (width - 1) * 0.5f, cy = (height - 1) * 0.5f, d = std::sqrt(cx * cx + cy * cy);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            float r = std::sqrt((x - cx) * (x - cx) + (y - cy) * (y - cy)) / d;
            const float f = 1.0f - r * r * 0.5f;
            factors.at<cv::Vec4f>(y, x) = cv::Vec4f(f, f, f, 1.0f);
        }
    }
    add("vignette/0.5", [] { cv::multiply(source, factors, out4, 1.0, CV_8UC4); }, mp);

    for (float radius : {1.5f, 10.0f, 50.0f}) {
        const int r = std::min(100, static_cast<int>(std::ceil(radius + radius)));
        char name[32];
        std::snprintf(name, sizeof name, "blur/%g", radius);
        add(name, [r, radius] {
            cv::GaussianBlur(source, out4, cv::Size(2 * r + 1, 2 * r + 1), radius, radius, cv::BORDER_REPLICATE);
        }, mp);
    }

    static cv::Mat sharpen_kernel = (cv::Mat_<float>(3, 3) << 0, -1, 0, -1, 5, -1, 0, -1, 0);
    add("sharpen/4", [] { cv::filter2D(source, out4, -1, sharpen_kernel, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE); }, mp);
    add("kernel/3x3", [] { cv::filter2D(source, out4, -1, sharpen_kernel, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE); }, mp);
    static cv::Mat soft_kernel = cv::Mat::ones(5, 5, CV_32F) / 25.0f;
    add("kernel/5x5", [] { cv::filter2D(source, out4, -1, soft_kernel, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE); }, mp);

    static cv::Mat emboss_kernel = (cv::Mat_<float>(3, 3) << -2, -1, 0, -1, 0, 1, 0, 1, 2);
    add("emboss", [] {
        cv::cvtColor(source, grey, cv::COLOR_RGBA2GRAY);
        cv::filter2D(grey, out1, -1, emboss_kernel, cv::Point(-1, -1), 128, cv::BORDER_REPLICATE);
    }, mp);
    add("edge_detect", [] {
        cv::cvtColor(source, grey, cv::COLOR_RGBA2GRAY);
        cv::spatialGradient(grey, dx, dy, 3, cv::BORDER_REPLICATE);
        dx.convertTo(fx, CV_32F);
        dy.convertTo(fy, CV_32F);
        cv::magnitude(fx, fy, magnitude);
        magnitude.convertTo(out1, CV_8U);
    }, mp);

    // Bilateral filtering takes three channels: the RGB copy is made once.
    add("denoise/3", [] { cv::bilateralFilter(rgb, out3, 5, 25.0, 2.2, cv::BORDER_REPLICATE); }, mp);
    add("denoise/8", [] { cv::bilateralFilter(rgb, out3, 7, 50.0, 4.2, cv::BORDER_REPLICATE); }, mp);

    add("pixelate/16", [width, height] {
        cv::resize(source, small, cv::Size((width + 15) / 16, (height + 15) / 16), 0, 0, cv::INTER_AREA);
        cv::resize(small, out4, cv::Size(width, height), 0, 0, cv::INTER_NEAREST);
    }, mp);

    // Oil painting with about 20 intensity levels (256 / 13).
    add("oil_paint/3", [] { cv::xphoto::oilPainting(rgb, out3, 3, 13, cv::COLOR_RGB2GRAY); }, mp);
    add("oil_paint/10", [] { cv::xphoto::oilPainting(rgb, out3, 10, 13, cv::COLOR_RGB2GRAY); }, mp);
}
