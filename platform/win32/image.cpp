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

// GDI+ is not one of the system's known DLLs, so it is loaded on first use
// from the system folder only, never through a load-time import that the
// loader would resolve before the program restricts its DLL search.
using GpStatusCode = int;
struct GdiPlus {
  using Startup = GpStatusCode(WINAPI*)(ULONG_PTR*, const Gdiplus::GdiplusStartupInput*, void*);
  using CreateFromStream = GpStatusCode(WINAPI*)(IStream*, Gdiplus::GpBitmap**);
  using GetSize = GpStatusCode(WINAPI*)(Gdiplus::GpImage*, UINT*);
  using LockBits = GpStatusCode(WINAPI*)(Gdiplus::GpBitmap*, const Gdiplus::GpRect*, UINT, INT,
                                         Gdiplus::BitmapData*);
  using UnlockBits = GpStatusCode(WINAPI*)(Gdiplus::GpBitmap*, Gdiplus::BitmapData*);
  using Dispose = GpStatusCode(WINAPI*)(Gdiplus::GpImage*);

  CreateFromStream createFromStream = nullptr;
  GetSize getWidth = nullptr;
  GetSize getHeight = nullptr;
  LockBits lockBits = nullptr;
  UnlockBits unlockBits = nullptr;
  Dispose dispose = nullptr;
};

template <typename F>
bool Resolve(HMODULE module, const char* name, F& fn) {
  fn = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return fn != nullptr;
}

const GdiPlus* StartGdiPlus() {
  static std::once_flag once;
  static GdiPlus api;
  static bool started = false;
  std::call_once(once, [] {
    HMODULE module = LoadLibraryExW(L"gdiplus.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!module) return;
    GdiPlus::Startup startup = nullptr;
    if (!Resolve(module, "GdiplusStartup", startup) ||
        !Resolve(module, "GdipCreateBitmapFromStream", api.createFromStream) ||
        !Resolve(module, "GdipGetImageWidth", api.getWidth) ||
        !Resolve(module, "GdipGetImageHeight", api.getHeight) ||
        !Resolve(module, "GdipBitmapLockBits", api.lockBits) ||
        !Resolve(module, "GdipBitmapUnlockBits", api.unlockBits) ||
        !Resolve(module, "GdipDisposeImage", api.dispose))
      return;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;
    started = startup(&token, &input, nullptr) == Gdiplus::Ok;
    // GDI+ stays up for the life of the process.
  });
  return started ? &api : nullptr;
}

}  // namespace

bool DecodePng(const void* data, size_t size, TImage& image) {
  image = TImage();
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (!data || size < 8 || size > 0x7FFFFFFF || std::memcmp(data, kSignature, 8) != 0) return false;
  const GdiPlus* gdi = StartGdiPlus();
  if (!gdi) return false;
  IStream* stream = SHCreateMemStream(static_cast<const BYTE*>(data), static_cast<UINT>(size));
  if (!stream) return false;
  bool ok = false;
  Gdiplus::GpBitmap* bitmap = nullptr;
  if (gdi->createFromStream(stream, &bitmap) == Gdiplus::Ok && bitmap) {
    auto* asImage = reinterpret_cast<Gdiplus::GpImage*>(bitmap);
    UINT w = 0, h = 0;
    if (gdi->getWidth(asImage, &w) == Gdiplus::Ok && gdi->getHeight(asImage, &h) == Gdiplus::Ok &&
        w > 0 && h > 0) {
      Gdiplus::GpRect rect(0, 0, static_cast<INT>(w), static_cast<INT>(h));
      Gdiplus::BitmapData bits{};
      if (gdi->lockBits(bitmap, &rect, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &bits) ==
          Gdiplus::Ok) {
        image.width = w;
        image.height = h;
        image.pixels.resize(static_cast<size_t>(w) * h * 4);
        for (UINT y = 0; y < h; ++y)
          std::memcpy(
              &image.pixels[static_cast<size_t>(y) * w * 4],
              static_cast<const uint8_t*>(bits.Scan0) + static_cast<ptrdiff_t>(y) * bits.Stride,
              static_cast<size_t>(w) * 4);
        gdi->unlockBits(bitmap, &bits);
        ok = true;
      }
    }
    gdi->dispose(asImage);
  }
  stream->Release();
  if (!ok) image = TImage();
  return ok;
}

}  // namespace platform
