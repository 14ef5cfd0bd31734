#include "store/tiff/tiff_file.h"

#include <cstdarg>
#include <cstdio>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

namespace astrelon {

namespace {

int OnError(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
  char text[512];
  std::vsnprintf(text, sizeof text, fmt, ap);
  std::string message = module && *module ? std::string(module) + ": " + text : std::string(text);
  static_cast<TTiffFile*>(user)->RecordError(message);
  return 1;  // handled: nothing is printed
}

int OnWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

TIFFOpenOptions* QuietOptions(TTiffFile* file) {
  TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
  TIFFOpenOptionsSetErrorHandlerExtR(opts, OnError, file);
  TIFFOpenOptionsSetWarningHandlerExtR(opts, OnWarning, file);
  return opts;
}

// Client procedures of a file opened for writing: plain descriptor I/O that
// remembers a failed or short write.
tmsize_t ReadProc(thandle_t h, void* buf, tmsize_t size) {
  auto* f = static_cast<TTiffFile*>(h);
  const ssize_t n = ::read(f->Descriptor(), buf, size_t(size));
  return n < 0 ? 0 : tmsize_t(n);
}

tmsize_t WriteProc(thandle_t h, void* buf, tmsize_t size) {
  auto* f = static_cast<TTiffFile*>(h);
  const auto* p = static_cast<const char*>(buf);
  tmsize_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(f->Descriptor(), p + done, size_t(size - done));
    if (n <= 0) {
      f->RecordWriteFailure();
      return done > 0 ? done : -1;
    }
    done += n;
  }
  return done;
}

toff_t SeekProc(thandle_t h, toff_t off, int whence) {
  auto* f = static_cast<TTiffFile*>(h);
  const off_t r = ::lseek(f->Descriptor(), off_t(off), whence);
  return r < 0 ? toff_t(-1) : toff_t(r);
}

int CloseProc(thandle_t) { return 0; }  // the descriptor belongs to the caller

toff_t SizeProc(thandle_t h) {
  auto* f = static_cast<TTiffFile*>(h);
  struct stat st {};
  return ::fstat(f->Descriptor(), &st) == 0 ? toff_t(st.st_size) : 0;
}

int MapProc(thandle_t, void**, toff_t*) { return 0; }
void UnmapProc(thandle_t, void*, toff_t) {}

}  // namespace

void TTiffFile::RecordError(const std::string& text) {
  if (error_.empty()) error_ = text;
}

bool TTiffFile::OpenRead(const std::string& fileName) {
  Close();
  TIFFOpenOptions* opts = QuietOptions(this);
  tif_ = TIFFOpenExt(fileName.c_str(), "r", opts);
  TIFFOpenOptionsFree(opts);
  writing_ = false;
  return tif_ != nullptr;
}

bool TTiffFile::OpenWrite(const std::string& fileName, int fd) {
  Close();
  fd_ = fd;
  TIFFOpenOptions* opts = QuietOptions(this);
  tif_ = TIFFClientOpenExt(fileName.c_str(), "w", this, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc,
                           MapProc, UnmapProc, opts);
  TIFFOpenOptionsFree(opts);
  writing_ = true;
  return tif_ != nullptr;
}

bool TTiffFile::Close() {
  if (!tif_) return !writeFailed_;
  bool ok = true;
  if (writing_) ok = TIFFFlush(tif_) == 1;
  TIFFClose(tif_);
  tif_ = nullptr;
  fd_ = -1;
  return ok && !writeFailed_;
}

TTiffTags ReadTiffTags(TIFF* tif) {
  TTiffTags t;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &t.Width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &t.Height);
  if (!TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &t.BitsPerSample)) t.BitsPerSample = 1;
  if (!TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &t.SamplesPerPixel)) t.SamplesPerPixel = 1;
  if (!TIFFGetField(tif, TIFFTAG_SAMPLEFORMAT, &t.SampleFormat)) t.SampleFormat = 1;
  if (!TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &t.RowsPerStrip)) t.RowsPerStrip = t.Height;
  if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &t.Photometric)) t.Photometric = 0xFFFF;
  if (!TIFFGetField(tif, TIFFTAG_PLANARCONFIG, &t.Planar)) t.Planar = PLANARCONFIG_CONTIG;
  if (!TIFFGetField(tif, TIFFTAG_COMPRESSION, &t.Compression)) t.Compression = COMPRESSION_NONE;
  if (!TIFFGetField(tif, TIFFTAG_ORIENTATION, &t.Orientation)) t.Orientation = 0;
  t.Tiled = TIFFIsTiled(tif) != 0;
  auto text = [tif](uint32_t tag) {
    const char* s = nullptr;
    return TIFFGetField(tif, tag, &s) && s ? std::string(s) : std::string();
  };
  t.Make = text(TIFFTAG_MAKE);
  t.Model = text(TIFFTAG_MODEL);
  t.DateTime = text(TIFFTAG_DATETIME);
  t.Artist = text(TIFFTAG_ARTIST);
  return t;
}

std::string UnsupportedDirectLayout(const TTiffTags& t) {
  const int bits = t.BitsPerSample;
  if (bits != 16 && bits != 32 && bits != 64) return std::to_string(bits) + " bits per sample";
  if (bits == 64 && t.SampleFormat != SAMPLEFORMAT_IEEEFP) return "64-bit integer samples";
  if (t.SamplesPerPixel < 1) return "no samples per pixel";
  if (t.Tiled) return "tiles";
  if (t.Planar != PLANARCONFIG_CONTIG && t.SamplesPerPixel > 1) return "separate sample planes";
  switch (t.Photometric) {
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_RGB:
    case 0xFFFF:
      break;
    default:
      return "photometric interpretation " + std::to_string(t.Photometric);
  }
  if (t.Photometric == PHOTOMETRIC_RGB && t.SamplesPerPixel < 3) return "RGB with fewer than 3 samples";
  return {};
}

uint64_t TiffRowBytes(const TTiffTags& t) {
  return uint64_t(t.Width) * t.BitsPerSample * t.SamplesPerPixel / 8;
}

int64_t FileSizeOf(const std::string& fileName) {
  struct stat st {};
  if (::stat(fileName.c_str(), &st) != 0) return -1;
  return int64_t(st.st_size);
}

}  // namespace astrelon
