#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace korvel {

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
    static constexpr int kParseError = -2;
    static constexpr int kMaxLineBytes = 45;

    FlashImage();

    // Resets the image and loads the text. Returns the sum of the byte counts
    // of all data records, or kParseError at the first malformed record (the
    // records before it stay loaded); the warning goes to standard output.
    int LoadHex(const std::uint8_t* text, std::int32_t length);

    // Some byte from first to last (inclusive) was defined.
    bool AnyData(std::int32_t first, std::int32_t last) const;
    // Defined bytes as loaded, 0xFF elsewhere and for requests outside the image.
    void ReadImage(std::int32_t start, std::int32_t count, std::uint8_t* destination) const;
    // Stores and marks the bytes; requests outside the image change nothing.
    void WriteImage(std::int32_t start, std::int32_t count, const std::uint8_t* source);
    // Makes the eight exception vectors add up to 0 through the word at 0x14,
    // which the boot loader checks before it starts user code.
    void SetVectorChecksum();

    bool endSeen() const { return endSeen_; }

  private:
    enum class Record { Ok, Malformed };
    Record parseRecord(const char* line, std::size_t length);
    void reset();

    std::vector<std::uint8_t> data_;
    std::vector<std::uint8_t> written_;
    std::uint32_t extendedAddress_ = 0;
    std::int32_t total_ = 0;
    bool endSeen_ = false;
};

// The uuencode character of the low six bits of v; 0 is sent as '`', not ' '.
char UuChar(std::uint32_t v);

// One uuencoded line of n bytes (clamped to 0..45) without line end:
// UuChar(n), then four characters per group of three bytes. The last group of
// a line whose n is not a multiple of 3 takes the bytes that follow in
// `bytes`; past its end they count as 0.
std::string UuencodeLine(std::span<const std::uint8_t> bytes, int n);

}  // namespace korvel
