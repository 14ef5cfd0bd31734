#pragma once
// libjpeg's error handling for our readers and writer: an error jumps back to the
// caller's setjmp instead of ending the program, and nothing is printed.
#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace astrelon {

struct TJpegError {
  jpeg_error_mgr Manager;
  std::jmp_buf Jump;
};

[[noreturn]] inline void JpegJumpOnError(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<TJpegError*>(cinfo->err)->Jump, 1);
}

inline void JpegNoOutput(j_common_ptr) {}

// Installs the handlers into `err` and returns its manager for cinfo->err.
inline jpeg_error_mgr* InstallJpegError(TJpegError& err) {
  jpeg_error_mgr* m = jpeg_std_error(&err.Manager);
  err.Manager.error_exit = JpegJumpOnError;
  err.Manager.output_message = JpegNoOutput;
  return m;
}

}  // namespace astrelon
