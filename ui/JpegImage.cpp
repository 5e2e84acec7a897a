#include "ui/JpegImage.h"

#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>
#include <vector>

namespace {

// libjpeg reports fatal errors through error_exit, which must not return: we jump
// back to the decoder, whose frame holds nothing that needs destroying.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void errorExit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

void silentMessage(j_common_ptr) {}

struct Decoded {
    std::vector<unsigned char> pixels; // RGB, 3 bytes a pixel, rows packed
    int width = 0;
    int height = 0;
};

// Only plain data lives in this frame, so a long jump out of libjpeg skips no
// destructor. The vector belongs to the caller.
bool decode(std::FILE* file, Decoded* out) {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = errorExit;
    err.pub.output_message = silentMessage;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    out->width = static_cast<int>(cinfo.output_width);
    out->height = static_cast<int>(cinfo.output_height);
    const std::size_t stride = std::size_t(cinfo.output_width) * 3;
    out->pixels.resize(stride * cinfo.output_height);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = out->pixels.data() + stride * cinfo.output_scanline;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

} // namespace

QImage LoadJpeg(const QString& path) {
    std::FILE* file = std::fopen(path.toLocal8Bit().constData(), "rb");
    if (!file)
        return {};
    Decoded d;
    const bool ok = decode(file, &d);
    std::fclose(file);
    if (!ok || d.width <= 0 || d.height <= 0)
        return {};
    QImage image(d.width, d.height, QImage::Format_RGB888);
    const std::size_t stride = std::size_t(d.width) * 3;
    for (int y = 0; y < d.height; ++y)
        std::copy_n(d.pixels.data() + stride * std::size_t(y), stride, image.scanLine(y));
    return image;
}
