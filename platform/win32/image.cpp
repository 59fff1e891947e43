// PNG decoding through GDI+.
#include <windows.h>

#include <objidl.h>
#include <shlwapi.h>

#include <gdiplus.h>

#include <cstring>
#include <mutex>

#include "platform/image.h"

namespace platform {
namespace {

bool StartGdiPlus() {
  static std::once_flag once;
  static bool started = false;
  std::call_once(once, [] {
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;
    started = Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok;
    // GDI+ stays up for the life of the process.
  });
  return started;
}

}  // namespace

bool DecodePng(const void* data, size_t size, TImage& image) {
  image = TImage();
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (!data || size < 8 || size > 0x7FFFFFFF || std::memcmp(data, kSignature, 8) != 0) return false;
  if (!StartGdiPlus()) return false;
  IStream* stream = SHCreateMemStream(static_cast<const BYTE*>(data), static_cast<UINT>(size));
  if (!stream) return false;
  bool ok = false;
  {
    Gdiplus::Bitmap bitmap(stream, FALSE);
    if (bitmap.GetLastStatus() == Gdiplus::Ok && bitmap.GetWidth() > 0 && bitmap.GetHeight() > 0) {
      const UINT w = bitmap.GetWidth(), h = bitmap.GetHeight();
      Gdiplus::Rect rect(0, 0, static_cast<INT>(w), static_cast<INT>(h));
      Gdiplus::BitmapData bits{};
      if (bitmap.LockBits(&rect, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &bits) ==
          Gdiplus::Ok) {
        image.width = w;
        image.height = h;
        image.pixels.resize(static_cast<size_t>(w) * h * 4);
        for (UINT y = 0; y < h; ++y)
          std::memcpy(
              &image.pixels[static_cast<size_t>(y) * w * 4],
              static_cast<const uint8_t*>(bits.Scan0) + static_cast<ptrdiff_t>(y) * bits.Stride,
              static_cast<size_t>(w) * 4);
        bitmap.UnlockBits(&bits);
        ok = true;
      }
    }
  }
  stream->Release();
  if (!ok) image = TImage();
  return ok;
}

}  // namespace platform
