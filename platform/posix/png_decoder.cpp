// A small PNG decoder on zlib for the native stand-in: every colour type and
// bit depth of the format, transparency (tRNS), Adam7 interlacing. Chunk
// checksums of the critical chunks are verified; other ancillary chunks are
// skipped. Gamma and colour profiles are ignored, as GDI+ does by default.
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/image.h"

namespace platform {
namespace {

constexpr uint32_t kMaxDimension = 16384;
constexpr uint64_t kMaxPixels = 64ull << 20;

uint32_t Be32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

struct THeader {
  uint32_t width, height;
  int depth, color, interlace;
  int channels;
  int BitsPerPixel() const { return depth * channels; }
  size_t RowBytes(uint32_t w) const { return (static_cast<size_t>(w) * BitsPerPixel() + 7) / 8; }
};

// Inflates exactly `expected` bytes; false when the stream is broken, short or longer.
bool Inflate(const std::vector<uint8_t>& in, size_t expected, std::vector<uint8_t>& out) {
  out.assign(expected + 1, 0);
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  size_t done = 0;
  int rc = Z_OK;
  while (rc == Z_OK && done < out.size()) {
    const size_t chunk = std::min<size_t>(out.size() - done, 1u << 30);
    z.next_out = out.data() + done;
    z.avail_out = static_cast<uInt>(chunk);
    rc = inflate(&z, Z_NO_FLUSH);
    done += chunk - z.avail_out;
    if (rc == Z_BUF_ERROR && z.avail_in == 0) break;
  }
  inflateEnd(&z);
  if (done != expected) return false;
  out.resize(expected);
  return true;
}

uint8_t Paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return static_cast<uint8_t>(a);
  return static_cast<uint8_t>(pb <= pc ? b : c);
}

// Reverses the row filters of one (sub-)image in place; data holds rows of
// 1 + rowBytes bytes.
bool Unfilter(uint8_t* data, size_t rowBytes, uint32_t rows, size_t bpp) {
  const uint8_t* prior = nullptr;
  for (uint32_t y = 0; y < rows; ++y) {
    uint8_t* row = data + y * (rowBytes + 1);
    const int filter = row[0];
    uint8_t* x = row + 1;
    for (size_t i = 0; i < rowBytes; ++i) {
      const int a = i >= bpp ? x[i - bpp] : 0;
      const int b = prior ? prior[i] : 0;
      const int c = prior && i >= bpp ? prior[i - bpp] : 0;
      switch (filter) {
        case 0:
          break;
        case 1:
          x[i] = static_cast<uint8_t>(x[i] + a);
          break;
        case 2:
          x[i] = static_cast<uint8_t>(x[i] + b);
          break;
        case 3:
          x[i] = static_cast<uint8_t>(x[i] + ((a + b) >> 1));
          break;
        case 4:
          x[i] = static_cast<uint8_t>(x[i] + Paeth(a, b, c));
          break;
        default:
          return false;
      }
    }
    prior = x;
  }
  return true;
}

struct TPalette {
  uint8_t rgba[256][4];
  int size = 0;
};

struct TTransparency {
  bool present = false;
  uint16_t gray = 0, r = 0, g = 0, b = 0;  // colour key of types 0 and 2
};

uint16_t Sample(const uint8_t* row, uint32_t x, int index, const THeader& h) {
  const int depth = h.depth;
  if (depth == 16) {
    const uint8_t* p = row + (static_cast<size_t>(x) * h.channels + index) * 2;
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
  }
  if (depth == 8) return row[static_cast<size_t>(x) * h.channels + index];
  const size_t bit = static_cast<size_t>(x) * depth;  // one channel for depths below 8
  return static_cast<uint16_t>((row[bit / 8] >> (8 - depth - bit % 8)) & ((1 << depth) - 1));
}

uint8_t To8(uint16_t v, int depth) {
  switch (depth) {
    case 1:
      return v ? 255 : 0;
    case 2:
      return static_cast<uint8_t>(v * 85);
    case 4:
      return static_cast<uint8_t>(v * 17);
    case 8:
      return static_cast<uint8_t>(v);
    default:
      return static_cast<uint8_t>(v >> 8);
  }
}

bool PutPixel(const uint8_t* row, uint32_t x, const THeader& h, const TPalette& pal,
              const TTransparency& trns, uint8_t* out) {
  uint8_t r, g, b, a = 255;
  switch (h.color) {
    case 0: {
      const uint16_t v = Sample(row, x, 0, h);
      r = g = b = To8(v, h.depth);
      if (trns.present && v == trns.gray) a = 0;
      break;
    }
    case 2: {
      const uint16_t vr = Sample(row, x, 0, h), vg = Sample(row, x, 1, h),
                     vb = Sample(row, x, 2, h);
      r = To8(vr, h.depth), g = To8(vg, h.depth), b = To8(vb, h.depth);
      if (trns.present && vr == trns.r && vg == trns.g && vb == trns.b) a = 0;
      break;
    }
    case 3: {
      const uint16_t i = Sample(row, x, 0, h);
      if (i >= pal.size) return false;
      r = pal.rgba[i][0], g = pal.rgba[i][1], b = pal.rgba[i][2], a = pal.rgba[i][3];
      break;
    }
    case 4:
      r = g = b = To8(Sample(row, x, 0, h), h.depth);
      a = To8(Sample(row, x, 1, h), h.depth);
      break;
    default:
      r = To8(Sample(row, x, 0, h), h.depth), g = To8(Sample(row, x, 1, h), h.depth);
      b = To8(Sample(row, x, 2, h), h.depth), a = To8(Sample(row, x, 3, h), h.depth);
      break;
  }
  out[0] = b, out[1] = g, out[2] = r, out[3] = a;
  return true;
}

bool ValidDepth(int color, int depth) {
  switch (color) {
    case 0:
      return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 3:
      return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case 2:
    case 4:
    case 6:
      return depth == 8 || depth == 16;
    default:
      return false;
  }
}

}  // namespace

bool DecodePng(const void* data, size_t size, TImage& image) {
  image = TImage();
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  const uint8_t* p = static_cast<const uint8_t*>(data);
  if (!p || size < 8 || std::memcmp(p, kSignature, 8) != 0) return false;
  size_t pos = 8;
  THeader h{};
  bool haveHeader = false, haveEnd = false;
  TPalette pal;
  TTransparency trns;
  std::vector<uint8_t> idat;
  while (pos + 12 <= size && !haveEnd) {
    const uint32_t length = Be32(p + pos);
    if (length > size - pos - 12) return false;
    const uint8_t* type = p + pos + 4;
    const uint8_t* body = p + pos + 8;
    const bool critical = !(type[0] & 0x20);
    const uint32_t crc = static_cast<uint32_t>(crc32(0, type, length + 4));
    const bool crcOk = crc == Be32(body + length);
    pos += 12 + static_cast<size_t>(length);
    if (!crcOk) {
      if (critical) return false;
      continue;
    }
    if (std::memcmp(type, "IHDR", 4) == 0) {
      if (haveHeader || length != 13) return false;
      h.width = Be32(body), h.height = Be32(body + 4);
      h.depth = body[8], h.color = body[9], h.interlace = body[12];
      if (body[10] != 0 || body[11] != 0 || h.interlace > 1) return false;
      if (!ValidDepth(h.color, h.depth)) return false;
      if (h.width == 0 || h.height == 0 || h.width > kMaxDimension || h.height > kMaxDimension ||
          static_cast<uint64_t>(h.width) * h.height > kMaxPixels)
        return false;
      h.channels = h.color == 2 ? 3 : h.color == 4 ? 2 : h.color == 6 ? 4 : 1;
      haveHeader = true;
    } else if (!haveHeader) {
      return false;  // IHDR must come first
    } else if (std::memcmp(type, "PLTE", 4) == 0) {
      if (length % 3 || length == 0 || length > 768) return false;
      pal.size = static_cast<int>(length / 3);
      for (int i = 0; i < pal.size; ++i) {
        pal.rgba[i][0] = body[i * 3], pal.rgba[i][1] = body[i * 3 + 1];
        pal.rgba[i][2] = body[i * 3 + 2], pal.rgba[i][3] = 255;
      }
    } else if (std::memcmp(type, "tRNS", 4) == 0) {
      if (h.color == 3) {
        for (uint32_t i = 0; i < length && i < 256; ++i) pal.rgba[i][3] = body[i];
      } else if (h.color == 0 && length == 2) {
        trns.present = true, trns.gray = static_cast<uint16_t>(body[0] << 8 | body[1]);
      } else if (h.color == 2 && length == 6) {
        trns.present = true;
        trns.r = static_cast<uint16_t>(body[0] << 8 | body[1]);
        trns.g = static_cast<uint16_t>(body[2] << 8 | body[3]);
        trns.b = static_cast<uint16_t>(body[4] << 8 | body[5]);
      }
    } else if (std::memcmp(type, "IDAT", 4) == 0) {
      if (idat.size() + length > (256u << 20)) return false;
      idat.insert(idat.end(), body, body + length);
    } else if (std::memcmp(type, "IEND", 4) == 0) {
      haveEnd = true;
    } else if (critical) {
      return false;  // an unknown critical chunk cannot be decoded
    }
  }
  if (!haveHeader || !haveEnd || idat.empty() || (h.color == 3 && pal.size == 0)) return false;

  // The passes: one for plain images, seven for Adam7.
  struct TPass {
    uint32_t x0, y0, dx, dy;
  };
  static const TPass kPlain[1] = {{0, 0, 1, 1}};
  static const TPass kAdam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                  {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
  const TPass* passes = h.interlace ? kAdam7 : kPlain;
  const int passCount = h.interlace ? 7 : 1;
  size_t expected = 0;
  for (int i = 0; i < passCount; ++i) {
    const TPass& ps = passes[i];
    const uint32_t w = h.width > ps.x0 ? (h.width - ps.x0 + ps.dx - 1) / ps.dx : 0;
    const uint32_t ht = h.height > ps.y0 ? (h.height - ps.y0 + ps.dy - 1) / ps.dy : 0;
    if (w && ht) expected += (h.RowBytes(w) + 1) * ht;
  }
  std::vector<uint8_t> raw;
  if (!Inflate(idat, expected, raw)) return false;
  idat.clear();

  std::vector<uint8_t> pixels(static_cast<size_t>(h.width) * h.height * 4);
  const size_t bpp = std::max(1, h.BitsPerPixel() / 8);
  size_t offset = 0;
  for (int i = 0; i < passCount; ++i) {
    const TPass& ps = passes[i];
    const uint32_t w = h.width > ps.x0 ? (h.width - ps.x0 + ps.dx - 1) / ps.dx : 0;
    const uint32_t ht = h.height > ps.y0 ? (h.height - ps.y0 + ps.dy - 1) / ps.dy : 0;
    if (!w || !ht) continue;
    const size_t rowBytes = h.RowBytes(w);
    uint8_t* sub = raw.data() + offset;
    if (!Unfilter(sub, rowBytes, ht, bpp)) return false;
    for (uint32_t y = 0; y < ht; ++y) {
      const uint8_t* row = sub + y * (rowBytes + 1) + 1;
      const size_t outY = ps.y0 + static_cast<size_t>(y) * ps.dy;
      for (uint32_t x = 0; x < w; ++x) {
        const size_t outX = ps.x0 + static_cast<size_t>(x) * ps.dx;
        if (!PutPixel(row, x, h, pal, trns, &pixels[(outY * h.width + outX) * 4])) return false;
      }
    }
    offset += (rowBytes + 1) * ht;
  }
  image.width = h.width;
  image.height = h.height;
  image.pixels = std::move(pixels);
  return true;
}

}  // namespace platform
