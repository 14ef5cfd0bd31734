#include "store/header_cards.h"

#include <algorithm>

#include "common/pascal_format.h"
#include "core/language.h"
#include "store/image_store.h"

namespace astrelon {

void (*HeaderChangedHook)(int slot) = nullptr;

std::string PadCard(std::string_view text) {
  std::string card(text.substr(0, CardLength));
  card.resize(CardLength, ' ');
  return card;
}

namespace {

bool StartsWith(std::string_view card, std::string_view key) {
  return !key.empty() && card.size() >= key.size() && card.compare(0, key.size(), key) == 0;
}

// The END card: the keyword END with blank columns 4..8. A card such as
// "ENDTIME = ..." is an ordinary keyword and does not end the header.
bool IsEndCard(std::string_view card) {
  if (card.size() < 3 || card.compare(0, 3, "END") != 0) return false;
  for (size_t i = 3; i < 8 && i < card.size(); ++i)
    if (card[i] != ' ') return false;
  return true;
}

// Columns 1..10 of a card (padded when the card is shorter).
std::string FirstTen(std::string_view card) {
  std::string s(card.substr(0, 10));
  s.resize(10, ' ');
  return s;
}

// The decimal of n after `prefix`, right-justified to end in column 30.
std::string IntegerCard(const std::string& prefix, int64_t n) {
  const std::string digits = IntToStr(n);
  std::string card = prefix;
  if (card.size() + digits.size() < 30) card.append(30 - card.size() - digits.size(), ' ');
  return card + digits;
}

std::string KeyPrefix(std::string_view key) {
  if (key.size() > 8) return std::string(key);
  std::string s(key);
  s.resize(8, ' ');
  return s + "= ";
}

bool ValidListSlot(int slot) { return slot >= 0 && slot < SlotArraySize; }

void NotifyChanged(int slot) {
  if (HeaderChangedHook) HeaderChangedHook(slot);
}

}  // namespace

int THeaderCardList::FindEnd() const {
  for (size_t i = 1; i < Cards.size(); ++i)
    if (IsEndCard(Cards[i])) return int(i);
  return int(Cards.size());
}

void THeaderCardList::EnsureRoomAfterEnd() {
  const int e = FindEnd();
  const int last = int(Cards.size()) - 1;
  if (e + 2 > last) Cards.resize(size_t(e) + 8);
}

void THeaderCardList::InsertAt(int index, std::string_view card) {
  if (FindEnd() >= int(Cards.size())) {
    // A list that was never set up has no END card: end it at its first empty entry.
    const auto empty = std::find_if(Cards.begin() + (Cards.empty() ? 0 : 1), Cards.end(),
                                    [](const THeaderCard& c) { return c.empty(); });
    if (empty == Cards.end())
      Cards.push_back(PadCard("END"));
    else
      *empty = PadCard("END");
  }
  EnsureRoomAfterEnd();
  const int e = FindEnd();
  index = std::clamp(index, 0, e);
  // Cards from index to END move down by one; the entry after END is overwritten.
  for (int i = e; i >= index; --i) Cards[size_t(i) + 1] = Cards[size_t(i)];
  Cards[size_t(index)] = PadCard(card);
}

std::vector<std::string> THeaderCardList::ActiveCards() const {
  std::vector<std::string> out;
  const int e = FindEnd();
  for (int i = 0; i <= e && i < int(Cards.size()); ++i) out.push_back(PadCard(Cards[size_t(i)]));
  return out;
}

std::string FormatCardExponent(double value) { return FloatToStrF(value, TFloatFormat::Exponent, 14, 2); }

int FindHeaderEnd(int slot) {
  if (!ValidListSlot(slot)) return 0;
  return Store.Header[slot].FindEnd();
}

int FindHeaderKeyword(int slot, std::string_view key) {
  if (!ValidListSlot(slot) || key.empty()) return -1;
  const THeaderCardList& h = Store.Header[slot];
  const int last = int(h.size()) - 2;
  for (int i = 1; i <= last; ++i) {
    const std::string& c = h[size_t(i)];
    if (IsEndCard(c)) break;
    if (StartsWith(c, key)) return i;
  }
  return -1;
}

namespace {

std::string ValueText(const std::string& firstTen, bool isNumber, bool isInteger, bool raw, std::string_view key,
                      std::string_view text, double value) {
  if (isNumber && isInteger) return IntegerCard(firstTen, Round(value));
  if (isNumber) {
    const std::string e = FormatCardExponent(value);
    return value < 0 ? firstTen + e : firstTen + " " + e;
  }
  if (raw) return key.size() > 8 ? std::string(key) + std::string(text) : firstTen + std::string(text);
  return firstTen + "'" + std::string(text) + "'";
}

}  // namespace

void SetHeaderKeyword(int slot, std::string_view key, std::string_view text, double value, bool isNumber,
                      bool isInteger, bool raw) {
  if (!ValidListSlot(slot) || key.empty()) return;
  THeaderCardList& h = Store.Header[slot];
  const int e = h.FindEnd();
  for (int i = 0; i <= e && i < int(h.size()); ++i) {
    if (StartsWith(h[size_t(i)], key)) {
      h[size_t(i)] = PadCard(ValueText(FirstTen(h[size_t(i)]), isNumber, isInteger, raw, key, text, value));
      NotifyChanged(slot);
      return;
    }
  }
  h.InsertAt(h.FindEnd(), ValueText(KeyPrefix(key), isNumber, isInteger, raw, key, text, value));
  NotifyChanged(slot);
}

namespace {
// The text between the quotes of a string value starting in column 12.
std::string QuotedValue(std::string_view text) {
  std::string quoted;
  for (char c : FoldToAscii(std::string(text))) {
    if (quoted.size() + (c == '\'' ? 2 : 1) > 68) break;
    quoted += c;
    if (c == '\'') quoted += '\'';
  }
  return quoted;
}
}  // namespace

std::string QuotedCard(std::string_view keyPrefix, std::string_view text) {
  return std::string(keyPrefix) + "'" + QuotedValue(text) + "'";
}

void SetHeaderString(int slot, std::string_view key, std::string_view text) {
  // FITS doubles an embedded quote; the value is cut so that the closing quote
  // stays in column 80 at the latest (the value starts in column 12).
  SetHeaderKeyword(slot, key, QuotedValue(text), 0, false, false, false);
}

void DeleteHeaderCard(int slot, int index) {
  if (!ValidListSlot(slot)) return;
  THeaderCardList& h = Store.Header[slot];
  if (index < 0 || index >= int(h.size())) return;
  h.Cards.erase(h.Cards.begin() + index);
  h.Cards.emplace_back();
  NotifyChanged(slot);
}

void AppendHeaderCard(int slot, std::string_view card) {
  if (!ValidListSlot(slot)) return;
  THeaderCardList& h = Store.Header[slot];
  h.EnsureRoomAfterEnd();
  const int e = h.FindEnd();
  h[size_t(e)] = PadCard(card);
  h[size_t(e) + 1] = PadCard("END");
  NotifyChanged(slot);
}

void AddHistoryCard(int slot, std::string_view text, int breakAfter) {
  if (!ValidListSlot(slot)) return;
  THeaderCardList& h = Store.Header[slot];
  if (h.size() < 6) return;
  const uint8_t old = Store.NewHistoryCard[slot];
  Store.NewHistoryCard[slot] = (breakAfter == 1 || breakAfter == -1) ? 1 : 0;
  std::string t = FoldToAscii(std::string(text));
  if (t.size() > 72) t.resize(72);
  const int e = h.FindEnd();
  int found = -1;
  if (old == 0) {
    for (int i = std::min(e - 1, int(h.size()) - 1); i >= 5; --i) {
      if (h[size_t(i)].compare(0, 7, "HISTORY") == 0) {
        found = i;
        break;
      }
    }
    if (found >= 0) {
      const std::string card = PadCard(h[size_t(found)]);
      int L = 8;
      for (int col = 79; col >= 9; --col)
        if (card[size_t(col - 1)] != ' ') {
          L = col;
          break;
        }
      if (L + int(t.size()) <= 78) {
        h[size_t(found)] = PadCard(card.substr(0, size_t(L)) + ", " + t);
        NotifyChanged(slot);
        return;
      }
    }
  }
  h.InsertAt(found >= 0 ? found + 1 : h.FindEnd(), "HISTORY " + t);
  NotifyChanged(slot);
}

void MakeDefaultHeader(int slot) {
  if (!ValidListSlot(slot)) return;
  THeaderCardList& h = Store.Header[slot];
  if (h.size() < 30) h.Cards.resize(30);
  h[0] = PadCard("SIMPLE  =                    T");
  h[1] = PadCard("BITPIX  =                   16");
  h[2] = PadCard("NAXIS   =                    2");
  h[3] = PadCard("NAXIS1");
  h[4] = PadCard("NAXIS2");
  h[5] = PadCard("END");
  SetNaxisCards(slot);
  if (Store.Image[slot].IsColor) SetHeader3Axis(slot);
  Store.NewHistoryCard[slot] = 1;
  NotifyChanged(slot);
}

void SetNaxisCards(int slot) {
  if (!ValidListSlot(slot)) return;
  THeaderCardList& h = Store.Header[slot];
  bool done1 = false, done2 = false;
  for (int i = 0; i <= int(h.size()) - 2 && !(done1 && done2); ++i) {
    std::string& c = h[size_t(i)];
    if (c.size() <= 5) continue;
    const bool is1 = c.compare(0, 6, "NAXIS1") == 0;
    const bool is2 = c.compare(0, 6, "NAXIS2") == 0;
    if (!is1 && !is2) continue;
    // A bare keyword card (as the default header has) is rebuilt.
    if (c.find_last_not_of(' ') + 1 < 31) c = std::string(is1 ? "NAXIS1  =" : "NAXIS2  =") + std::string(22, ' ');
    const std::string n = std::string(10, ' ') + IntToStr(is1 ? Store.Image[slot].Width : Store.Image[slot].Height) + " ";
    c.replace(20, 11, n.substr(n.size() - 11));
    c = PadCard(c);
    (is1 ? done1 : done2) = true;
  }
}

void SetHeader3Axis(int slot) {
  if (!ValidListSlot(slot)) return;
  THeaderCardList& h = Store.Header[slot];
  if (h.size() <= 5) return;
  for (int i = 0; i <= 10 && i < int(h.size()); ++i) {
    std::string c = PadCard(h[size_t(i)]);
    if (c.compare(0, 6, "NAXIS ") == 0) {
      if (c[29] == '3') return;
      c[29] = '3';
      h[size_t(i)] = c;
    } else if (c.compare(0, 6, "NAXIS2") == 0) {
      h.InsertAt(i + 1, "NAXIS3  =                    3");
      h.InsertAt(i + 2, Store.Image[slot].ColorModel == CmRgb ? "CTYPE3  = 'RGB     '" : "CTYPE3  = 'YUV     '");
      NotifyChanged(slot);
      return;
    }
  }
}

void SetHeader2Axis(int slot) {
  if (!ValidListSlot(slot)) return;
  THeaderCardList& h = Store.Header[slot];
  for (int i = 1; i <= 10 && i < int(h.size()); ++i) {
    std::string c = h[size_t(i)];
    if (c.size() <= 5) continue;
    c = PadCard(c);
    if (c.compare(0, 6, "NAXIS ") == 0) {
      if (c[29] == '2') return;
      c[29] = '2';
      h[size_t(i)] = c;
    } else if (c.compare(0, 6, "NAXIS3") == 0) {
      DeleteHeaderCard(slot, i);
      for (int j = i; j < int(h.size()); ++j)
        if (h[size_t(j)].compare(0, 6, "CTYPE3") == 0) {
          DeleteHeaderCard(slot, j);
          break;
        }
      return;
    }
  }
}

void SetCtype3Card(int slot) {
  const int i = FindHeaderKeyword(slot, "CTYPE3  ");
  if (i > 0)
    Store.Header[slot][size_t(i)] =
        PadCard(Store.Image[slot].ColorModel != CmRgb ? "CTYPE3  = 'YUV     '" : "CTYPE3  = 'RGB     '");
}

void CopyHeaderCards(int src, int dst) {
  if (!ValidListSlot(src) || !ValidListSlot(dst) || src == dst) return;
  Store.Header[dst] = Store.Header[src];
}

namespace {
std::string_view TrimCardText(std::string_view s) {
  const size_t a = s.find_first_not_of(' ');
  if (a == std::string_view::npos) return {};
  return s.substr(a, s.find_last_not_of(' ') - a + 1);
}
}  // namespace

std::string GetHeaderValue(int slot, std::string_view key, bool raw) {
  if (!ValidListSlot(slot) || key.empty()) return {};
  const THeaderCardList& h = Store.Header[slot];
  const size_t e = size_t(h.FindEnd());
  for (size_t i = 0; i <= e && i < h.size(); ++i) {
    if (!StartsWith(h[i], key)) continue;
    const std::string card = PadCard(h[i]);
    if (raw) return std::string(TrimCardText(std::string_view(card).substr(10, 20)));
    const std::string_view v = TrimCardText(std::string_view(card).substr(10, 60));
    if (!v.empty() && v[0] == '\'') {
      // A string: up to the closing quote; a doubled quote stands for one.
      std::string s;
      for (size_t k = 1; k < v.size(); ++k) {
        if (v[k] == '\'') {
          if (k + 1 < v.size() && v[k + 1] == '\'') {
            s += '\'';
            ++k;
            continue;
          }
          break;
        }
        s += v[k];
      }
      return std::string(TrimCardText(s));
    }
    // Any other value ends where its comment ("/") or a quote begins.
    return std::string(TrimCardText(v.substr(0, v.find_first_of("/'"))));
  }
  return {};
}

}  // namespace astrelon
