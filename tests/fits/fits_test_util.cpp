#include "fits_test_util.h"

#include <bit>
#include <cmath>
#include <cstdlib>
#include <fstream>

#include <fitsio.h>

#include "store/header_cards.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon::test {

void PutImage(int slot, int w, int h, int planes, const std::function<float(int, int, int)>& value) {
  TImageSlot& im = Store.Image[slot];
  im.Width = w;
  im.Height = h;
  im.PlaneCount = planes;
  im.IsColor = planes == 3 ? 1 : 0;
  im.AllocatePlanes(planes);
  for (int p = 1; p <= planes; ++p)
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) im.At(p, x, y) = value(p, x, y);
  Store.InUse[slot] = 1;
  MakeDefaultHeader(slot);
  UpdateMinMax(slot);
}

std::string ValueCard(const std::string& key, const std::string& value) {
  std::string card = key;
  card.resize(8, ' ');
  card += "= ";
  if (value.size() < 20) card += std::string(20 - value.size(), ' ');
  card += value;
  card.resize(80, ' ');
  return card;
}

std::vector<uint8_t> FitsFile(const std::vector<std::string>& cards, const std::vector<uint8_t>& data, bool padData) {
  std::string header;
  for (const std::string& c : cards) header += PadCard(c);
  header += PadCard("END");
  header.resize((header.size() + 2879) / 2880 * 2880, ' ');
  std::vector<uint8_t> out(header.begin(), header.end());
  out.insert(out.end(), data.begin(), data.end());
  if (padData) out.resize(header.size() + (data.size() + 2879) / 2880 * 2880, 0);
  return out;
}

std::vector<std::string> ImageCards(int bitpix, int w, int h, int planes) {
  std::vector<std::string> c{ValueCard("SIMPLE", "T"), ValueCard("BITPIX", std::to_string(bitpix)),
                             ValueCard("NAXIS", planes > 1 ? "3" : "2"), ValueCard("NAXIS1", std::to_string(w)),
                             ValueCard("NAXIS2", std::to_string(h))};
  if (planes > 1) c.push_back(ValueCard("NAXIS3", std::to_string(planes)));
  return c;
}

void PutBe16(std::vector<uint8_t>& out, int16_t v) {
  const auto u = uint16_t(v);
  out.push_back(uint8_t(u >> 8));
  out.push_back(uint8_t(u));
}
void PutBe32(std::vector<uint8_t>& out, int32_t v) {
  const auto u = uint32_t(v);
  for (int s = 24; s >= 0; s -= 8) out.push_back(uint8_t(u >> s));
}
void PutBeFloat(std::vector<uint8_t>& out, float v) { PutBe32(out, std::bit_cast<int32_t>(v)); }
void PutBeDouble(std::vector<uint8_t>& out, double v) {
  const auto u = std::bit_cast<uint64_t>(v);
  for (int s = 56; s >= 0; s -= 8) out.push_back(uint8_t(u >> s));
}

TCfitsImage ReadWithCfitsio(const std::string& path) {
  TCfitsImage img;
  fitsfile* f = nullptr;
  int status = 0;
  char text[FLEN_STATUS] = {};
  if (fits_open_file(&f, path.c_str(), READONLY, &status)) {
    fits_get_errstatus(status, text);
    img.Error = text;
    return img;
  }
  long naxes[3] = {1, 1, 1};
  fits_get_img_param(f, 3, &img.Bitpix, &img.Naxis, naxes, &status);
  img.Width = naxes[0];
  img.Height = naxes[1];
  img.Planes = img.Naxis >= 3 ? naxes[2] : 1;
  const long n = img.Width * img.Height;
  float nulval = NAN;
  int anynul = 0;
  for (long p = 0; p < img.Planes && status == 0; ++p) {
    std::vector<float> plane(static_cast<size_t>(n));
    long first[3] = {1, 1, p + 1};
    fits_read_pix(f, TFLOAT, first, n, &nulval, plane.data(), &anynul, &status);
    img.Data.push_back(std::move(plane));
  }
  if (status) {
    fits_get_errstatus(status, text);
    img.Error = text;
  }
  int closeStatus = 0;
  fits_close_file(f, &closeStatus);
  return img;
}

bool HaveAstropy() {
  static const bool have = std::system("/usr/bin/python3 -c 'import astropy.io.fits, numpy' >/dev/null 2>&1") == 0;
  return have;
}


TRecordingUi::TRecordingUi(TDialogAnswer answer) {
  DefaultAnswer = answer;
  SetEngineUi(this);
}
TRecordingUi::~TRecordingUi() { SetEngineUi(nullptr); }

}  // namespace astrelon::test
