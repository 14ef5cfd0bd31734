#pragma once
// Helpers of the FITS tests: images put into slots, FITS files built by hand,
// and reading and writing through cfitsio and astropy.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/engine_ui.h"

namespace astrelon::test {

// Puts a w x h image of `planes` planes (1 or 3) into the slot with a default header.
void PutImage(int slot, int w, int h, int planes, const std::function<float(int p, int x, int y)>& value);

// An 80-column card: "KEY     = " and the value right-justified to column 30.
std::string ValueCard(const std::string& key, const std::string& value);
// A FITS file: the cards, END, blank cards to a whole block, the data and (with
// padData) zeros to a whole block.
std::vector<uint8_t> FitsFile(const std::vector<std::string>& cards, const std::vector<uint8_t>& data,
                              bool padData = true);
// The cards SIMPLE, BITPIX and NAXIS... of an image.
std::vector<std::string> ImageCards(int bitpix, int w, int h, int planes = 1);

void PutBe16(std::vector<uint8_t>& out, int16_t v);
void PutBe32(std::vector<uint8_t>& out, int32_t v);
void PutBeFloat(std::vector<uint8_t>& out, float v);
void PutBeDouble(std::vector<uint8_t>& out, double v);

// An image as cfitsio reads it: planes of floats (NaN for null pixels).
struct TCfitsImage {
  int Bitpix = 0;
  int Naxis = 0;
  long Width = 0, Height = 0, Planes = 1;
  std::vector<std::vector<float>> Data;
  std::string Error;
};
TCfitsImage ReadWithCfitsio(const std::string& path);

// Whether /usr/bin/python3 can import astropy and numpy.
bool HaveAstropy();

// Installs a fresh engine interface that records messages and answers
// questions with `answer`; restores the default on destruction.
class TRecordingUi : public TEngineUi {
public:
  explicit TRecordingUi(TDialogAnswer answer = TDialogAnswer::No);
  ~TRecordingUi() override;
};

}  // namespace astrelon::test
