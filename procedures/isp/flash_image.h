#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

// Why a HEX text cannot be programmed.
enum class HexError : std::uint8_t {
    None,
    NoLineEnd,     // the text ends inside a line
    LineTooLong,   // no line end within the line buffer
    NoColon,       // a line that does not start with ':'
    TooShort,      // fewer characters than the record's byte count needs
    NotHexDigit,   // a count, address, type, data or checksum digit
    BadChecksum,   // a record whose bytes do not add up to 0
    WrongLength,   // an end or address record with another byte count than its type has
    UnknownType,   // a record type Intel HEX does not define
    OutsideImage,  // a record reaching past the 512 KB address range
    NoData,        // a text without a single data byte
};

// The user's words for an error: "not a hex digit".
const char* Describe(HexError error);

// What LoadHex made of a text.
struct HexLoad {
    HexError error = HexError::None;
    // The malformed line, counted from 1; 0 when the error is the whole text's.
    int line = 0;
    // The byte counts of all data records read (overlapping records count twice).
    std::int32_t total = 0;
    // The highest address that received data; -1 when none did.
    std::int32_t highest = -1;

    bool ok() const { return error == HexError::None; }
    // The user's words for the error and where it is: "line 3: not a hex digit".
    std::string what() const;
};

// Where a data record stands in the HEX text it was loaded from.
struct HexDataRecord {
    std::size_t textOffset = 0;  // of its ':'
    std::int32_t address = 0;
    std::int32_t count = 0;
};

// The chip's flash address space as an Intel HEX text defines it, plus the
// encoding of image bytes into the uuencoded lines of the ISP data transfer.
//
// Address rule: a record or request of count bytes at s lies inside the image
// only when s >= 0, count >= 0 and s + count < kSize, so the last byte
// (0x7FFFF) never receives data. AnyData alone accepts addresses up to 0x7FFFF.
class FlashImage {
  public:
    static constexpr std::int32_t kSize = 0x80000;
    // A HEX line including its CR LF must fit in this many characters.
    static constexpr int kLineCapacity = 1024;
    static constexpr int kMaxLineBytes = 45;

    FlashImage();

    // Resets the image and loads the text, lines ending in CR LF or LF alone.
    // Stops at the first malformed record (the records before it stay loaded)
    // and names its line. With `records`, also where each data record stands.
    HexLoad LoadHex(std::span<const std::uint8_t> text,
                    std::vector<HexDataRecord>* records = nullptr);

    // Some byte from first to last (inclusive) was defined.
    bool AnyData(std::int32_t first, std::int32_t last) const;
    // How many bytes from first to last (inclusive) were defined; 0 where
    // AnyData is false.
    std::int32_t DataBytes(std::int32_t first, std::int32_t last) const;
    // Defined bytes as loaded, 0xFF elsewhere and for requests outside the image.
    void ReadImage(std::int32_t start, std::int32_t count, std::uint8_t* destination) const;
    // Stores and marks the bytes; requests outside the image change nothing.
    void WriteImage(std::int32_t start, std::int32_t count, const std::uint8_t* source);
    // Makes the eight exception vectors add up to 0 through the word at 0x14,
    // which the boot loader checks before it starts user code.
    void SetVectorChecksum();

    bool endSeen() const { return endSeen_; }

  private:
    HexError parseRecord(const char* line, std::size_t length);
    void reset();

    std::vector<std::uint8_t> data_;
    std::vector<std::uint8_t> written_;
    std::vector<HexDataRecord>* records_ = nullptr;
    std::size_t lineStart_ = 0;
    std::uint32_t extendedAddress_ = 0;
    std::int32_t total_ = 0;
    std::int32_t highest_ = -1;
    bool endSeen_ = false;
};

// Writes `bytes` at flash address `at` into a HEX text in place, into every
// data record (as LoadHex found them) that holds one of them, each record's
// checksum made good again; the rest of the text stays as it was. False,
// with the text unchanged, when some byte lies in no record.
bool PatchHex(std::vector<std::uint8_t>& text, std::span<const HexDataRecord> records,
              std::int32_t at, std::span<const std::uint8_t> bytes);

// The uuencode character of the low six bits of v; 0 is sent as '`', not ' '.
char UuChar(std::uint32_t v);

// One uuencoded line of n bytes (clamped to 0..45) without line end:
// UuChar(n), then four characters per group of three bytes. The last group of
// a line whose n is not a multiple of 3 takes the bytes that follow in
// `bytes`; past its end they count as 0.
std::string UuencodeLine(std::span<const std::uint8_t> bytes, int n);

// The bytes of one uuencoded line (without line end); false, with `bytes`
// unchanged, when the line is not one: a length above 45, a length character
// that does not match the line's, or a character outside ' ' to '`'.
bool UudecodeLine(std::string_view line, std::vector<std::uint8_t>& bytes);

}  // namespace korvel
