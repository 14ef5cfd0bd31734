// Readers and writers under injected failures: memory that runs out in a
// conversion worker or in the middle of decoding, worker threads the system
// refuses, encoders whose output cannot grow, and a crafted bitmap header.
#include <malloc.h>

#include <cstdio>
#include <exception>
#include <new>
#include <random>
#include <system_error>
#include <thread>

// libjpeg's header needs size_t and FILE declared first.
#include <jpeglib.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include "loader_fixture.h"
#include "platform/parallel_bands.h"
#include "store/display/display_bitmap.h"
#include "store/image_loader.h"
#include "store/pictures/bmp_codec.h"
#include "store/pictures/graphic_to_slot.h"
#include "store/pictures/jpeg_writer.h"
#include "store/pictures/png_writer.h"

namespace astrelon::test {
namespace {

// Memory the process holds from the allocator. Under AddressSanitizer the leak
// checker answers instead (see ExpectNoLeakSince).
size_t HeapInUse() {
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

void ExpectNoLeakSince(size_t before, size_t tolerance) {
#if defined(__SANITIZE_ADDRESS__)
  (void)before;
  (void)tolerance;
  EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#else
  const size_t after = HeapInUse();
  EXPECT_LT(after > before ? after - before : 0, tolerance);
#endif
}

const std::thread::id mainThread = std::this_thread::get_id();
int batchesLeft = 0;
size_t batchBytes = 0;

// Memory hooks: fail in every conversion worker; fail the n-th row batch.
void FailInWorkers(size_t) {
  if (std::this_thread::get_id() != mainThread) throw std::bad_alloc();
}
void FailAtBatch(size_t bytes) {
  if (bytes == batchBytes && --batchesLeft < 0) throw std::bad_alloc();
}

std::thread RefuseEveryStart(std::function<void()>) {
  throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
}

class FailurePathsTest : public LoaderTest {
protected:
  void SetUp() override {
    LoaderTest::SetUp();
    threshold_ = PictureWorkerThreshold;
    PictureWorkerThreshold = 1;  // every picture goes through the conversion workers
  }
  void TearDown() override {
    PictureMemoryHook = nullptr;
    BandThreadStarter = nullptr;
    JpegOutputLimit = 0;
    PngOutputLimit = 0;
    PictureWorkerThreshold = threshold_;
    LoaderTest::TearDown();
  }
  static bool HaveWorkers() { return std::thread::hardware_concurrency() > 1; }
  size_t threshold_ = 0;
};

TPicture NoisePicture(int32_t w, int32_t h) {
  TPicture p;
  p.Format.Width = w;
  p.Format.Height = h;
  p.Format.Channels = 3;
  p.Samples8.resize(size_t(w) * size_t(h) * 3);
  std::mt19937 random(7);
  for (uint8_t& s : p.Samples8) s = uint8_t(random());
  return p;
}

TDisplayBitmap NoiseBitmap(int32_t w, int32_t h) {
  TDisplayBitmap b;
  b.Resize(w, h, TBitmapFormat::Bgr24);
  std::mt19937 random(3);
  for (uint8_t& v : b.Pixels) v = uint8_t(random());
  return b;
}

TEST_F(FailurePathsTest, PictureWorkersThatRunOutOfMemoryHandTheFailureToTheCaller) {
  if (!HaveWorkers()) GTEST_SKIP() << "one processor: no conversion workers";
  const TPicture picture = NoisePicture(600, 400);
  PictureMemoryHook = FailInWorkers;
  EXPECT_THROW(GraphicToSlot(picture, 1, false), std::bad_alloc);
  EXPECT_EQ(Store.InUse[1], 0);
  EXPECT_TRUE(Store.Image[1].Planes[1].empty());

  // Through the loader: the slot stays free and the caller gets the failure.
  const TDisplayBitmap bitmap = NoiseBitmap(600, 400);
  ASSERT_TRUE(SaveBmpFile(bitmap, dir.file("noise.bmp")));
  EXPECT_THROW(LoadImageFile(2, dir.file("noise.bmp")), std::bad_alloc);
  EXPECT_EQ(Store.InUse[2], 0);

  PictureMemoryHook = nullptr;
  ASSERT_TRUE(LoadImageFile(2, dir.file("noise.bmp")));
}

TEST_F(FailurePathsTest, RefusedConversionThreadsGiveTheSameImage) {
  const TPicture picture = NoisePicture(300, 200);
  ASSERT_TRUE(GraphicToSlot(picture, 1, false));
  BandThreadStarter = RefuseEveryStart;
  ASSERT_TRUE(GraphicToSlot(picture, 2, false));
  for (int p = 1; p <= 3; ++p) EXPECT_EQ(Store.Image[1].Planes[p], Store.Image[2].Planes[p]);
  EXPECT_EQ(Store.Image[1].MaxValue, Store.Image[2].MaxValue);
}

// A progressive JPEG: libjpeg keeps every coefficient of the image until the end.
std::vector<uint8_t> ProgressiveJpeg(int w, int h) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &buffer, &size);
  c.image_width = JDIMENSION(w);
  c.image_height = JDIMENSION(h);
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  std::vector<uint8_t> row(size_t(w) * 3);
  while (c.next_scanline < c.image_height) {
    for (size_t x = 0; x < row.size(); ++x) row[x] = uint8_t((x * 7 + c.next_scanline * 3) & 255);
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::vector<uint8_t> out(buffer, buffer + size);
  std::free(buffer);
  return out;
}

// The sink runs out of memory half-way through a picture: the decoder's own
// state (libjpeg's coefficient buffer, libpng's rows) is released, the slot is
// free and the failure reaches the caller.
TEST_F(FailurePathsTest, DecodersReleaseTheirStateWhenTheSinkFails) {
  if (!HaveWorkers()) GTEST_SKIP() << "one processor: rows are not batched";
  const std::vector<uint8_t> jpeg = ProgressiveJpeg(1280, 1280);
  WriteAll(dir.file("progressive.jpg"), jpeg);
  std::vector<uint8_t> png;
  ASSERT_TRUE(EncodePng(NoiseBitmap(200000, 20), 0, false, png));
  WriteAll(dir.file("wide.png"), png);

  struct TCase {
    const char* File;
    size_t RowBytes;
    int GoodBatches;  // batches of 32 rows before the failing one
  };
  for (const TCase& c : {TCase{"progressive.jpg", 1280 * 3, 2}, TCase{"wide.png", 200000 * 3, 0}}) {
    SCOPED_TRACE(c.File);
    PictureMemoryHook = FailAtBatch;
    batchBytes = c.RowBytes * 32;
    // One load to let the allocator settle, then the measured ones.
    batchesLeft = c.GoodBatches;
    EXPECT_THROW(LoadImageFile(1, dir.file(c.File)), std::bad_alloc);
    const size_t before = HeapInUse();
    for (int k = 0; k < 4; ++k) {
      batchesLeft = c.GoodBatches;
      EXPECT_THROW(LoadImageFile(1, dir.file(c.File)), std::bad_alloc);
      EXPECT_EQ(Store.InUse[1], 0);
    }
    ExpectNoLeakSince(before, 4 << 20);
    PictureMemoryHook = nullptr;
    EXPECT_TRUE(LoadImageFile(1, dir.file(c.File)));
    Store.Reset();
  }
}

TEST_F(FailurePathsTest, EncodersThatRunOutOfMemoryFailCleanly) {
  const TDisplayBitmap bitmap = NoiseBitmap(700, 500);
  std::vector<uint8_t> bytes;
  // JPEG: the output buffer cannot grow past its first doubling.
  JpegOutputLimit = 100000;
  EXPECT_FALSE(EncodeJpeg(bitmap, 95, false, bytes));
  EXPECT_TRUE(bytes.empty());
  EXPECT_EQ(JpegSizeKB(bitmap, 95, false), -1);
  EXPECT_FALSE(SaveJpegFile(bitmap, 95, false, dir.file("a.jpg")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("a.jpg")));
  JpegOutputLimit = 0;
  EXPECT_TRUE(EncodeJpeg(bitmap, 95, false, bytes));
  EXPECT_GT(bytes.size(), 100000u);

  // PNG: the failure leaves no exception behind (it was not left by a jump out
  // of its handler).
  PngOutputLimit = 50000;
  EXPECT_FALSE(EncodePng(bitmap, 6, false, bytes));
  EXPECT_EQ(std::current_exception(), nullptr);
  EXPECT_FALSE(SavePngFile(bitmap, 6, true, dir.file("a.png")));
  EXPECT_EQ(std::current_exception(), nullptr);
  PngOutputLimit = 0;
  EXPECT_TRUE(EncodePng(bitmap, 6, false, bytes));
}

// Bitmap files whose info header is too short for the colour masks it declares,
// or of a size no bitmap version has, are refused without reading past their end.
TEST_F(FailurePathsTest, BitmapInfoHeadersOfUnknownSizeAreRefused) {
  auto put32 = [](std::vector<uint8_t>& d, size_t o, uint32_t v) {
    for (int k = 0; k < 4; ++k) d[o + size_t(k)] = uint8_t(v >> (8 * k));
  };
  // 1 x 1 pixel, 32 bits, BITFIELDS; the pixel is read from offset 50. Bytes
  // beyond the file hold plausible masks, so reading them would decode.
  auto crafted = [&](uint32_t infoSize) {
    std::vector<uint8_t> d(80, 0);
    d[0] = 'B';
    d[1] = 'M';
    put32(d, 10, 50);
    put32(d, 14, infoSize);
    put32(d, 18, 1);
    put32(d, 22, 1);
    d[26] = 1;
    d[28] = 32;
    put32(d, 30, 3);
    put32(d, 54, 0xFF0000);
    put32(d, 58, 0x00FF00);
    put32(d, 62, 0x0000FF);
    return d;
  };
  for (uint32_t infoSize : {41u, 44u, 51u}) {
    SCOPED_TRACE(infoSize);
    std::vector<uint8_t> d = crafted(infoSize);
    TPictureSink sink;
    EXPECT_FALSE(DecodeBmp(std::span<const uint8_t>(d.data(), 14 + infoSize), 1, sink));
    d.resize(55);
    WriteAll(dir.file("bad.bmp"), d);
    EXPECT_FALSE(LoadImageFile(1, dir.file("bad.bmp")));
    EXPECT_EQ(Store.InUse[1], 0);
  }
  // The same picture with a 52-byte header (masks inside it) loads.
  std::vector<uint8_t> good = crafted(52);
  good.resize(66);
  TPictureSink sink;
  EXPECT_TRUE(DecodeBmp(good, 1, sink));
  EXPECT_TRUE(sink.Finish());
}

}  // namespace
}  // namespace astrelon::test
