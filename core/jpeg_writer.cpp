#include "core/jpeg_writer.h"

#include "core/picture_files.h"

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/safe_file.h"

#if !defined(JCS_EXTENSIONS)
#error "libjpeg-turbo is needed: the screen's four-byte pixels are encoded without a conversion pass"
#endif

namespace {

// libjpeg ends a failing call through error_exit; it must not return, and an
// exception may not cross the C library, so it jumps back to the encoder.
struct ErrorJump {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

[[noreturn]] void jumpBack(j_common_ptr info) {
  std::longjmp(reinterpret_cast<ErrorJump*>(info->err)->jump, 1);
}

void stayQuiet(j_common_ptr) {}

J_COLOR_SPACE colourSpace(platform::PixelLayout layout) {
  switch (layout) {
    case platform::PixelLayout::Bgrx:
      return JCS_EXT_BGRX;
    case platform::PixelLayout::Rgbx:
      return JCS_EXT_RGBX;
    case platform::PixelLayout::Rgb:
      break;
  }
  return JCS_RGB;
}

// Only plain C objects live in this frame, so the jump back skips no
// destructor.
bool encode(const platform::ScreenFrame& frame, std::FILE* file, int quality) {
  jpeg_compress_struct info;
  ErrorJump errors;
  std::memset(&info, 0, sizeof info);
  info.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = jumpBack;
  errors.manager.output_message = stayQuiet;
  if (setjmp(errors.jump) != 0) {
    jpeg_destroy_compress(&info);
    return false;
  }
  jpeg_create_compress(&info);
  jpeg_stdio_dest(&info, file);
  info.image_width = static_cast<JDIMENSION>(frame.width);
  info.image_height = static_cast<JDIMENSION>(frame.height);
  info.input_components = frame.bytesPerPixel();
  info.in_color_space = colourSpace(frame.layout);
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  jpeg_start_compress(&info, TRUE);

  // Rows are handed over in batches straight from the frame.
  constexpr JDIMENSION kBatch = 32;
  JSAMPROW rows[kBatch];
  const size_t stride = frame.bytesPerRow();
  while (info.next_scanline < info.image_height) {
    const JDIMENSION first = info.next_scanline;
    JDIMENSION count = 0;
    while (count < kBatch && first + count < info.image_height) {
      rows[count] = const_cast<JSAMPROW>(frame.pixels + (first + count) * stride);
      ++count;
    }
    jpeg_write_scanlines(&info, rows, count);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return true;
}

}  // namespace

bool writeJpeg(const platform::ScreenFrame& frame, const std::string& diskPath, int quality) {
  if (frame.pixels == nullptr || frame.width <= 0 || frame.height <= 0) return false;
  // Written under another name and renamed when complete: a kill or a power
  // loss mid-write never leaves a cut-off picture under the real name.
  // Both names are opened and replaced without following a link planted
  // there or waiting on a FIFO: such a thing is moved aside and told.
  const std::string unfinished = diskPath + pictures::kUnfinishedSuffix;
  std::vector<std::string> movedAside;
  std::string why;
  const auto tellMoved = [&movedAside] {
    for (const std::string& line : movedAside) std::fprintf(stderr, "picture file %s\n", line.c_str());
    movedAside.clear();
  };
  std::FILE* file = platform::createFreshStream(unfinished, &movedAside, &why);
  tellMoved();
  if (file == nullptr) return false;
  // Fewer, larger writes than libjpeg's 4 KB pieces.
  std::setvbuf(file, nullptr, _IOFBF, 256 * 1024);
  bool written = encode(frame, file, quality);
  written = std::ferror(file) == 0 && written;
  written = std::fclose(file) == 0 && written;
  written = written && platform::giveName(unfinished, diskPath, &movedAside, &why);
  tellMoved();
  if (!written) {
    const int error = errno;
    std::remove(unfinished.c_str());
    errno = error;
  }
  return written;
}
