// libjpeg compression into a memory buffer. libjpeg reports errors through a
// callback that must not return; the callback jumps back to the encoder with
// longjmp, so the function that calls setjmp holds no C++ objects with
// destructors between the jump points.
//
// Build time, one thread.
#include "media/jpeg_writer.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

#include "media/generator.h"

namespace {

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void onError(j_common_ptr info) {
    ErrorManager* manager = reinterpret_cast<ErrorManager*>(info->err);
    (*info->err->format_message)(info, manager->message);
    std::longjmp(manager->jump, 1);
}

// Compresses rows of 8-bit RGB. Returns a malloc'ed buffer (freed by the
// caller) or null with the library's message in *manager.
unsigned char* compress(const unsigned char* rgb, int width, int height, int quality,
                        unsigned long* size, ErrorManager* manager) {
    jpeg_compress_struct info;
    unsigned char* buffer = nullptr;
    *size = 0;
    info.err = jpeg_std_error(&manager->base);
    manager->base.error_exit = onError;
    if (setjmp(manager->jump) != 0) {
        jpeg_destroy_compress(&info);
        std::free(buffer);
        return nullptr;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &buffer, size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    // Full-resolution chroma: the pictures carry thin coloured type and sparks
    // that 2x2 chroma subsampling would smear.
    for (int c = 0; c < info.num_components; ++c) {
        info.comp_info[c].h_samp_factor = 1;
        info.comp_info[c].v_samp_factor = 1;
    }
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(rgb + static_cast<size_t>(info.next_scanline) *
                                                      static_cast<size_t>(width) * 3);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return buffer;
}

} // namespace

bool encodeJpeg(const Image& image, int quality, std::vector<unsigned char>* out,
                std::string* error) {
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() != static_cast<size_t>(image.width) * image.height) {
        *error = "empty or inconsistent image";
        return false;
    }
    if (quality < 1 || quality > 100) {
        *error = "JPEG quality must lie in 1..100";
        return false;
    }
    const std::vector<unsigned char> rgb = image.toRgb8();
    ErrorManager manager;
    manager.message[0] = 0;
    unsigned long size = 0;
    unsigned char* data = compress(rgb.data(), image.width, image.height, quality, &size, &manager);
    if (!data) {
        *error = std::string("libjpeg: ") + manager.message;
        return false;
    }
    out->assign(data, data + size);
    std::free(data);
    return true;
}

bool writeJpegMedia(const std::string& dir, const std::string& name, const Image& image) {
    std::vector<unsigned char> bytes;
    std::string error;
    if (!encodeJpeg(image, 92, &bytes, &error)) {
        std::fprintf(stderr, "tuhkala-media: %s: %s\n", name.c_str(), error.c_str());
        return false;
    }
    return writeMediaFile(dir, name, bytes);
}
