#pragma once
// FITS header cards of a slot: 80-column cards from "SIMPLE" to "END", history
// cards, keyword search and setting, the default header and the axis cards.
#include <string>
#include <string_view>
#include <vector>

namespace astrelon {

constexpr size_t CardLength = 80;

// A card is a string of at most 80 characters (unpadded or padded).
using THeaderCard = std::string;

// A growable array of cards indexed from 0. Card 0 is "SIMPLE"; the first card
// at index >= 1 starting with "END" ends the header; entries after it are ignored.
struct THeaderCardList {
  std::vector<THeaderCard> Cards = std::vector<THeaderCard>(30);

  size_t size() const { return Cards.size(); }
  THeaderCard& operator[](size_t i) { return Cards[i]; }
  const THeaderCard& operator[](size_t i) const { return Cards[i]; }
  // Index of END (>= 1), or size() when there is none.
  int FindEnd() const;
  // Grows the array when fewer than two entries follow END.
  void EnsureRoomAfterEnd();
  // Inserts a card (cut to 80, padded) at index, moving the following cards down.
  void InsertAt(int index, std::string_view card);
  // Cards 0..END as 80-column texts, END included.
  std::vector<std::string> ActiveCards() const;
};

// Pads (or cuts) a text to exactly 80 characters.
std::string PadCard(std::string_view text);

int FindHeaderEnd(int slot);
int FindHeaderKeyword(int slot, std::string_view key);
void SetHeaderKeyword(int slot, std::string_view key, std::string_view text, double value, bool isNumber,
                      bool isInteger, bool raw);
// String value: doubles embedded quotes and cuts the text so that the closing
// quote stays inside the card.
void SetHeaderString(int slot, std::string_view key, std::string_view text);
// A string card "KEY     = 'text'": keyPrefix holds the ten columns up to the
// value; the text is folded to ASCII, its quotes are doubled and it is cut so
// that the closing quote stays in column 80 at the latest.
std::string QuotedCard(std::string_view keyPrefix, std::string_view text);
void DeleteHeaderCard(int slot, int index);
void AppendHeaderCard(int slot, std::string_view card);
void AddHistoryCard(int slot, std::string_view text, int breakAfter);
void MakeDefaultHeader(int slot);
void SetNaxisCards(int slot);
void SetHeader3Axis(int slot);
void SetHeader2Axis(int slot);
void SetCtype3Card(int slot);
// Copies the cards and nothing else.
void CopyHeaderCards(int src, int dst);

// The value of the first card (up to END) that starts with key; keys with
// trailing blanks ("RA   ") keep a short keyword from matching longer ones.
// raw: columns 11..30, trimmed. Otherwise columns 11..70 trimmed: a string value
// is the text between its quotes (a doubled quote reads as one), trimmed; any
// other value is the text before its "/" comment, trimmed. Empty when no card
// matches.
std::string GetHeaderValue(int slot, std::string_view key, bool raw);

// Exponent form with 14 significant digits used for floating card values:
// "1.5000000000000E+00", "-2.0000000000000E+00".
std::string FormatCardExponent(double value);

// Called when cards change, so that an open header window reloads (set by the UI).
extern void (*HeaderChangedHook)(int slot);

}  // namespace astrelon
