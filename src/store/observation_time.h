#pragma once
// Observation dates of image files: the date scan of a file's first kilobyte,
// the date cards, and the observation time of any image file.
#include <cstdint>
#include <string>

#include "common/date_time.h"

namespace astrelon {

// The first EXIF-style date text (zero-terminated "yyyy:mm:dd hh:mm:ss") found
// after a zero byte in the first kilobyte; fileSize is the file's size in bytes.
// Files below 1051 bytes are not scanned.
void ScanFileForExifDate(const std::string& fileName, TDateTime& obsTime, int32_t& fileSize);

// Appends "DATE-OBS= 'yyyy-mm-dd'" and "TIME-OBS= 'hh:mm:ss'" (observation) or
// the same as "DATE    =" and "TIME    =" cards.
void AppendDateCards(int slot, TDateTime t, bool observation);

// Observation time of a file with its quality: 2 from observation cards or the
// EXIF capture dates, 1 from another date (EXIF change date, DATE card, file
// time), 0 none (file missing; obsTime stays UnknownDateTime).
void GetObservationTime(const std::string& fileName, TDateTime& obsTime, int32_t& quality);

}  // namespace astrelon
