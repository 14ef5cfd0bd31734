#pragma once
// TIFF file access shared by the TIFF reader, preview and writer: a libtiff
// handle that closes itself and collects libtiff's messages instead of printing
// them, and the tags the program reads from a file's first directory.
#include <cstdint>
#include <stdexcept>
#include <string>

typedef struct tiff TIFF;

namespace astrelon {

// Errors of the TIFF routines; the message is meant for the user.
class TTiffError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class TTiffFile {
public:
  TTiffFile() = default;
  ~TTiffFile() { Close(); }
  TTiffFile(const TTiffFile&) = delete;
  TTiffFile& operator=(const TTiffFile&) = delete;

  // Opens a file for reading; false when it cannot be opened as a TIFF.
  bool OpenRead(const std::string& fileName);
  // Wraps a descriptor opened for writing (the descriptor stays the caller's).
  // Write errors are remembered: see WriteFailed.
  bool OpenWrite(const std::string& fileName, int fd);
  // Writes the directory (in write mode) and closes; false when libtiff or the
  // operating system reported a failure while flushing.
  bool Close();

  TIFF* get() const { return tif_; }
  explicit operator bool() const { return tif_ != nullptr; }
  // The first error libtiff reported on this file; empty when none.
  const std::string& LastError() const { return error_; }
  bool WriteFailed() const { return writeFailed_; }

  // Used by the libtiff callbacks.
  void RecordError(const std::string& text);
  void RecordWriteFailure() { writeFailed_ = true; }
  int Descriptor() const { return fd_; }

private:
  TIFF* tif_ = nullptr;
  int fd_ = -1;
  bool writing_ = false;
  bool writeFailed_ = false;
  std::string error_;
};

// The tags of the first directory. Absent tags take the defaults in brackets.
struct TTiffTags {
  uint32_t Width = 0;             // 256
  uint32_t Height = 0;            // 257
  uint16_t BitsPerSample = 1;     // 258 [1]
  uint16_t SamplesPerPixel = 1;   // 277 [1]
  uint16_t SampleFormat = 1;      // 339 [1]
  uint32_t RowsPerStrip = 0;      // 278 [Height]
  uint16_t Photometric = 0xFFFF;  // 262 [none]
  uint16_t Planar = 1;            // 284 [1]
  uint16_t Compression = 1;       // 259 [1]
  uint16_t Orientation = 0;       // 274 [0]
  bool Tiled = false;
  std::string Make, Model, DateTime, Artist;  // 271, 272, 306, 315 [empty]
};

TTiffTags ReadTiffTags(TIFF* tif);

// Why the direct (strip) reading path cannot read a file with these tags; empty
// when it can: 16, 32 or 64 bits per sample, unsigned, signed or float samples
// (64 bits only as float), contiguous samples in strips, grey or RGB.
std::string UnsupportedDirectLayout(const TTiffTags& t);

// Bytes of one uncompressed row (64-bit; 0 on overflow of the sample count).
uint64_t TiffRowBytes(const TTiffTags& t);

// The file's size in bytes, or -1.
int64_t FileSizeOf(const std::string& fileName);

}  // namespace astrelon
