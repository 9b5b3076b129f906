// Single-core throughput of the -lh5- encoder: the files named on standard
// input (one path a line) are read into memory first, then each is
// compressed on its own, as the archiver does. Prints input MB, output MB,
// seconds and MB/s for the median of the runs.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "libraries/lha/lh5_encoder.h"

int main(int argc, char** argv) {
    // Arguments: runs, then optionally the encoder settings to try
    // (chain length, nice length, codes per block).
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    lh5::EncoderOptions options;
    if (argc > 2) options.maxChain = std::atoi(argv[2]);
    if (argc > 3) options.niceLength = std::atoi(argv[3]);
    if (argc > 4) options.blockCodes = std::atoi(argv[4]);
    std::vector<std::string> files;
    std::string path;
    size_t total = 0;
    while (std::getline(std::cin, path)) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(path, ec)) continue;  // links to folders and the like
        std::ifstream in(path, std::ios::binary);
        if (!in) continue;
        files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        total += files.back().size();
    }
    std::vector<double> seconds;
    size_t packed = 0;
    for (int r = 0; r < runs; ++r) {
        packed = 0;
        const auto t0 = std::chrono::steady_clock::now();
        for (const auto& f : files) {
            lh5::VectorSink sink;
            lh5::Encoder encoder(sink, options);
            encoder.Write(reinterpret_cast<const uint8_t*>(f.data()), f.size());
            encoder.Finish();
            packed += std::min(sink.bytes.size(), f.size());  // stored when not smaller
        }
        seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    std::sort(seconds.begin(), seconds.end());
    const double median = seconds[seconds.size() / 2];
    std::printf("files %zu  in %.1f MB  out %.3f MB  median %.3f s of %d runs  %.1f MB/s\n", files.size(), total / 1e6,
                packed / 1e6, median, runs, total / 1e6 / median);
    return 0;
}
