// JPEG benchmark: our decodeJpeg against a plain libjpeg-turbo decompression
// of the same files to the same pixel format, as median times and a ratio.
//
// Main thread; no GL. Times in ms.
//
// The reference is what a libjpeg-turbo user writes: default error handling
// turned into a longjmp, memory source, RGB or grey output, scanlines read as
// many rows per call as the library offers. Both outputs are compared byte for
// byte; a file that either side cannot decode is skipped and counted.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "bench/bench_util.h"
#include "resources/jpeg.h"

namespace {

struct ReferenceErrors {
    jpeg_error_mgr base;
    jmp_buf jump;
};

void referenceError(j_common_ptr cinfo) {
    longjmp(reinterpret_cast<ReferenceErrors*>(cinfo->err)->jump, 1);
}

void referenceQuiet(j_common_ptr, int) {}

// Decodes into out (resized); false on any error.
bool referenceDecode(const std::vector<unsigned char>& bytes, std::vector<unsigned char>& out) {
    jpeg_decompress_struct cinfo;
    ReferenceErrors errors;
    cinfo.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = referenceError;
    errors.base.emit_message = referenceQuiet;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&cinfo, TRUE);
    if (cinfo.num_components == 1) {
        cinfo.out_color_space = JCS_GRAYSCALE;
    } else if (cinfo.num_components == 3) {
        cinfo.out_color_space = JCS_RGB;
    } else {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_start_decompress(&cinfo);
    size_t rowBytes = static_cast<size_t>(cinfo.output_width) * cinfo.output_components;
    out.resize(rowBytes * cinfo.output_height);
    JSAMPROW rows[16];
    while (cinfo.output_scanline < cinfo.output_height) {
        JDIMENSION batch = cinfo.rec_outbuf_height > 16 ? 16 : cinfo.rec_outbuf_height;
        for (JDIMENSION i = 0; i < batch; i++) {
            JDIMENSION row = cinfo.output_scanline + i;
            if (row >= cinfo.output_height) {
                row = cinfo.output_height - 1;
            }
            rows[i] = out.data() + rowBytes * row;
        }
        if (jpeg_read_scanlines(&cinfo, rows, batch) == 0) {
            break;
        }
    }
    bool complete = cinfo.output_scanline == cinfo.output_height;
    if (complete) {
        jpeg_finish_decompress(&cinfo);
    }
    jpeg_destroy_decompress(&cinfo);
    return complete;
}

} // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? std::atoi(argv[1]) : 11;
    std::vector<std::string> files;
    auto isJpeg = [](const std::string& name) {
        std::string lower = bench::lowerCase(name);
        return bench::endsWith(lower, ".jpg") || bench::endsWith(lower, ".jpeg");
    };
    bench::listFiles("tavara", isJpeg, files);
    size_t showFiles = files.size();
    for (int i = 2; i < argc; i++) {
        bench::listFiles(argv[i], isJpeg, files);
    }
    if (showFiles == 0) {
        std::fprintf(stderr, "jpeg_bench: no tavara/*.jpg (run from the build folder)\n");
        return 1;
    }
    std::printf("JPEG decoding, decodeJpeg vs libjpeg-turbo (libjpeg API, version %d), median of "
                "%d rounds\n",
                JPEG_LIB_VERSION, rounds);
    double sums[2][2] = {};
    double minSums[2][2] = {};
    int compared[2] = {0, 0};
    int skipped = 0;
    int mismatched = 0;
    std::vector<double> ratios;
    for (size_t f = 0; f < files.size(); f++) {
        std::vector<unsigned char> bytes;
        std::vector<unsigned char> reference;
        if (!bench::readFile(files[f], bytes) || bytes.empty() || bytes.size() > 0x7fffffff ||
            !referenceDecode(bytes, reference)) {
            skipped++;
            continue;
        }
        int width = 0, height = 0, channels = 0;
        unsigned char* ours =
            decodeJpeg(&width, &height, &channels, bytes.data(), static_cast<int>(bytes.size()));
        if (!ours) {
            skipped++;
            continue;
        }
        size_t size = static_cast<size_t>(width) * height * channels;
        if (size != reference.size() || std::memcmp(ours, reference.data(), size) != 0) {
            std::printf("  %s: decoded pixels differ from the reference\n", files[f].c_str());
            mismatched++;
        }
        std::free(ours);
        std::vector<double> oursMs, refMs;
        for (int r = 0; r < rounds; r++) {
            oursMs.push_back(bench::timePerRun(
                [&] {
                    int w, h, c;
                    std::free(decodeJpeg(&w, &h, &c, bytes.data(), static_cast<int>(bytes.size())));
                },
                10.0));
            refMs.push_back(bench::timePerRun([&] { referenceDecode(bytes, reference); }, 10.0));
        }
        double o = bench::median(oursMs), ref = bench::median(refMs);
        double oMin = bench::quantile(oursMs, 0.0), refMin = bench::quantile(refMs, 0.0);
        int set = f < showFiles ? 0 : 1;
        sums[set][0] += o;
        sums[set][1] += ref;
        minSums[set][0] += oMin;
        minSums[set][1] += refMin;
        compared[set]++;
        ratios.push_back(o / ref);
        std::string shown = files[f];
        if (shown.size() > 40) {
            shown = "..." + shown.substr(shown.size() - 37);
        }
        std::printf("  %-40s %4dx%-4d %d ch  ours %8.3f ms  libjpeg %8.3f ms  ratio %.3f\n",
                    shown.c_str(), width, height, channels, o, ref, o / ref);
    }
    const char* names[2] = {"show's pictures", "corpus"};
    for (int set = 0; set < 2; set++) {
        if (compared[set] == 0) {
            continue;
        }
        std::printf("  total, %s (%d files): ours %.3f ms, libjpeg %.3f ms, ours/libjpeg %.3f "
                    "(%+.1f %%)\n",
                    names[set], compared[set], sums[set][0], sums[set][1],
                    sums[set][0] / sums[set][1], 100.0 * (sums[set][0] / sums[set][1] - 1.0));
        std::printf("    fastest rounds only: ours %.3f ms, libjpeg %.3f ms, ours/libjpeg %.3f\n",
                    minSums[set][0], minSums[set][1], minSums[set][0] / minSums[set][1]);
    }
    std::printf("  per-file ratio ours/libjpeg: median %.3f, min %.3f, max %.3f\n",
                bench::median(ratios), bench::quantile(ratios, 0.0), bench::quantile(ratios, 1.0));
    std::printf("  %d files skipped (not decodable by both), %d with differing pixels\n", skipped,
                mismatched);
    return mismatched == 0 ? 0 : 1;
}
