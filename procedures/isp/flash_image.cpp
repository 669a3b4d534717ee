#include "procedures/isp/flash_image.h"

#include <algorithm>

namespace korvel {

namespace {

constexpr std::uint8_t kErased = 0xFF;
constexpr std::int32_t kChecksumWord = 0x14;
constexpr std::int32_t kVectorCount = 8;

enum RecordType : std::uint32_t {
    kData = 0x00,
    kEndOfFile = 0x01,
    kExtendedSegment = 0x02,
    kStartSegment = 0x03,
    kExtendedLinear = 0x04,
    kStartLinear = 0x05,
};

// The byte count every record type but data has.
constexpr std::uint32_t kAddressBytes = 2;
constexpr std::uint32_t kStartBytes = 4;

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// `digits` hexadecimal digits at line[pos]; the caller has checked the length.
bool ReadHex(const char* line, std::size_t pos, int digits, std::uint32_t& value) {
    value = 0;
    for (int i = 0; i < digits; ++i) {
        const int d = HexValue(line[pos + static_cast<std::size_t>(i)]);
        if (d < 0) {
            return false;
        }
        value = value * 16 + static_cast<std::uint32_t>(d);
    }
    return true;
}

bool Inside(std::int32_t start, std::int32_t count) {
    return start >= 0 && count >= 0 &&
           static_cast<std::int64_t>(start) + count < static_cast<std::int64_t>(FlashImage::kSize);
}

}  // namespace

const char* Describe(HexError error) {
    switch (error) {
        case HexError::None:
            return "no error";
        case HexError::NoLineEnd:
            return "no line end";
        case HexError::LineTooLong:
            return "line too long";
        case HexError::NoColon:
            return "does not start with ':'";
        case HexError::TooShort:
            return "record too short";
        case HexError::NotHexDigit:
            return "not a hex digit";
        case HexError::BadChecksum:
            return "wrong checksum";
        case HexError::WrongLength:
            return "wrong length for its record type";
        case HexError::UnknownType:
            return "unknown record type";
        case HexError::OutsideImage:
            return "address beyond 512 KB";
        case HexError::NoData:
            return "no data";
    }
    return "unreadable";
}

FlashImage::FlashImage() : data_(kSize, kErased), written_(kSize, 0) {}

void FlashImage::reset() {
    std::fill(data_.begin(), data_.end(), kErased);
    std::fill(written_.begin(), written_.end(), std::uint8_t{0});
    extendedAddress_ = 0;
    total_ = 0;
    highest_ = -1;
    endSeen_ = false;
}

std::string HexLoad::what() const {
    return line > 0 ? "line " + std::to_string(line) + ": " + Describe(error)
                    : std::string(Describe(error));
}

HexLoad FlashImage::LoadHex(std::span<const std::uint8_t> text,
                            std::vector<HexDataRecord>* records) {
    reset();
    records_ = records;
    if (records_ != nullptr) {
        records_->clear();
    }
    const char* chars = reinterpret_cast<const char*>(text.data());
    const std::size_t size = text.size();
    auto findLf = [&](std::size_t from, std::size_t limit) {
        const char* lf = std::find(chars + from, chars + limit, '\n');
        return static_cast<std::size_t>(lf - chars);
    };
    HexLoad load;
    std::size_t p = 0;
    char line[kLineCapacity];
    while (p < size && !endSeen_) {
        ++load.line;
        if (chars[p] == '\0') {
            // Padding after the text; it may be longer than a line.
            p = findLf(p, size) + 1;
            continue;
        }
        const std::size_t limit = std::min(size, p + kLineCapacity);
        const std::size_t lf = findLf(p, limit);
        if (lf == limit) {
            load.error = limit == size ? HexError::NoLineEnd : HexError::LineTooLong;
            return load;
        }
        // The record is read with a single LF for its line end, whichever it had.
        std::size_t body = lf - p;
        if (body > 0 && chars[lf - 1] == '\r') {
            --body;
        }
        std::copy_n(chars + p, body, line);
        line[body] = '\n';
        lineStart_ = p;
        p = lf + 1;
        load.error = parseRecord(line, body + 1);
        if (!load.ok()) {
            return load;
        }
    }
    load.line = 0;
    load.total = total_;
    load.highest = highest_;
    if (highest_ < 0) {
        load.error = HexError::NoData;
    }
    return load;
}

HexError FlashImage::parseRecord(const char* line, std::size_t length) {
    if (line[0] != ':') {
        return HexError::NoColon;
    }
    if (length < 11) {
        return HexError::TooShort;
    }
    std::uint32_t n = 0;
    std::uint32_t a = 0;
    std::uint32_t t = 0;
    if (!ReadHex(line, 1, 2, n) || !ReadHex(line, 3, 4, a) || !ReadHex(line, 7, 2, t)) {
        return HexError::NotHexDigit;
    }
    if (length < 2 * n + 11) {
        return HexError::TooShort;
    }
    // 64-bit: a type 04 value alone can exceed the 32-bit range with the address added.
    const std::uint64_t first = static_cast<std::uint64_t>(extendedAddress_) + a;
    if (first + n >= static_cast<std::uint64_t>(kSize)) {
        return HexError::OutsideImage;
    }
    // Every record, whatever its type, is checked as a whole: its digits and
    // its checksum, then the byte count its type has.
    std::uint32_t sum = n + (a >> 8) + (a & 0xFF) + t;
    std::uint8_t bytes[255];
    for (std::uint32_t i = 0; i < n; ++i) {
        std::uint32_t b = 0;
        if (!ReadHex(line, 9 + 2 * i, 2, b)) {
            return HexError::NotHexDigit;
        }
        bytes[i] = static_cast<std::uint8_t>(b);
        sum += b;
    }
    std::uint32_t c = 0;
    if (!ReadHex(line, 9 + 2 * n, 2, c)) {
        return HexError::NotHexDigit;
    }
    const bool sumOk = ((sum + c) & 0xFF) == 0;
    if (t == kData) {
        // The bytes of a record with a wrong checksum are kept: the load
        // fails there and nothing after it is read.
        total_ += static_cast<std::int32_t>(n);
        if (records_ != nullptr && n > 0) {
            records_->push_back(
                {lineStart_, static_cast<std::int32_t>(first), static_cast<std::int32_t>(n)});
        }
        for (std::uint32_t i = 0; i < n; ++i) {
            data_[first + i] = bytes[i];
            written_[first + i] = 1;
            highest_ = std::max(highest_, static_cast<std::int32_t>(first + i));
        }
        return sumOk ? HexError::None : HexError::BadChecksum;
    }
    if (!sumOk) {
        return HexError::BadChecksum;
    }
    switch (t) {
        case kEndOfFile:
            if (n != 0) {
                return HexError::WrongLength;
            }
            endSeen_ = true;
            return HexError::None;
        case kExtendedSegment:
        case kExtendedLinear: {
            if (n != kAddressBytes) {
                return HexError::WrongLength;
            }
            const std::uint32_t v = static_cast<std::uint32_t>(bytes[0]) << 8 | bytes[1];
            extendedAddress_ = t == kExtendedSegment ? v * 16 : v * 65536;
            return HexError::None;
        }
        case kStartSegment:
        case kStartLinear:
            // Where the program starts: the chip starts at its reset vector.
            return n == kStartBytes ? HexError::None : HexError::WrongLength;
        default:
            return HexError::UnknownType;
    }
}

bool FlashImage::AnyData(std::int32_t first, std::int32_t last) const {
    if (first < 0 || first >= kSize || last < 0 || last >= kSize || last < first) {
        return false;
    }
    return std::any_of(written_.begin() + first, written_.begin() + last + 1,
                       [](std::uint8_t w) { return w != 0; });
}

std::int32_t FlashImage::DataBytes(std::int32_t first, std::int32_t last) const {
    if (!AnyData(first, last)) {
        return 0;
    }
    return static_cast<std::int32_t>(std::count_if(written_.begin() + first,
                                                   written_.begin() + last + 1,
                                                   [](std::uint8_t w) { return w != 0; }));
}

void FlashImage::ReadImage(std::int32_t start, std::int32_t count,
                           std::uint8_t* destination) const {
    if (count <= 0 || destination == nullptr) {
        return;
    }
    if (!Inside(start, count)) {
        std::fill_n(destination, count, kErased);
        return;
    }
    for (std::int32_t i = 0; i < count; ++i) {
        const auto a = static_cast<std::size_t>(start + i);
        destination[i] = written_[a] != 0 ? data_[a] : kErased;
    }
}

void FlashImage::WriteImage(std::int32_t start, std::int32_t count, const std::uint8_t* source) {
    if (count <= 0 || source == nullptr || !Inside(start, count)) {
        return;
    }
    std::copy_n(source, count, data_.begin() + start);
    std::fill_n(written_.begin() + start, count, 1);
}

void FlashImage::SetVectorChecksum() {
    std::uint8_t vectors[kVectorCount * 4];
    ReadImage(0, sizeof vectors, vectors);
    std::uint32_t sum = 0;
    for (std::int32_t i = 0; i < kVectorCount; ++i) {
        if (i * 4 == kChecksumWord) {
            continue;
        }
        const std::uint8_t* w = vectors + i * 4;
        sum += static_cast<std::uint32_t>(w[0]) | static_cast<std::uint32_t>(w[1]) << 8 |
               static_cast<std::uint32_t>(w[2]) << 16 | static_cast<std::uint32_t>(w[3]) << 24;
    }
    const std::uint32_t check = 0u - sum;
    const std::uint8_t word[4] = {
        static_cast<std::uint8_t>(check), static_cast<std::uint8_t>(check >> 8),
        static_cast<std::uint8_t>(check >> 16), static_cast<std::uint8_t>(check >> 24)};
    WriteImage(kChecksumWord, 4, word);
}

bool PatchHex(std::vector<std::uint8_t>& text, std::span<const HexDataRecord> records,
              std::int32_t at, std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const auto end = static_cast<std::int64_t>(at) + static_cast<std::int64_t>(bytes.size());
    std::vector<std::uint8_t> patched = text;
    std::vector<bool> covered(bytes.size(), false);
    char* chars = reinterpret_cast<char*>(patched.data());
    for (const HexDataRecord& record : records) {
        const std::int64_t first = std::max<std::int64_t>(record.address, at);
        const std::int64_t last = std::min<std::int64_t>(record.address + record.count, end);
        if (first >= last) {
            continue;
        }
        for (std::int64_t a = first; a < last; ++a) {
            const std::uint8_t b = bytes[static_cast<std::size_t>(a - at)];
            const std::size_t digit =
                record.textOffset + 9 + 2 * static_cast<std::size_t>(a - record.address);
            chars[digit] = kDigits[b >> 4];
            chars[digit + 1] = kDigits[b & 0x0F];
            covered[static_cast<std::size_t>(a - at)] = true;
        }
        // The checksum: the two's complement of the sum of every byte before it.
        std::uint32_t sum = 0;
        const std::size_t pairs = 4 + static_cast<std::size_t>(record.count);
        for (std::size_t i = 0; i < pairs; ++i) {
            std::uint32_t value = 0;
            ReadHex(chars, record.textOffset + 1 + 2 * i, 2, value);
            sum += value;
        }
        const auto checksum = static_cast<std::uint8_t>(0x100 - (sum & 0xFF));
        const std::size_t at_sum = record.textOffset + 1 + 2 * pairs;
        chars[at_sum] = kDigits[checksum >> 4];
        chars[at_sum + 1] = kDigits[checksum & 0x0F];
    }
    if (std::find(covered.begin(), covered.end(), false) != covered.end()) {
        return false;
    }
    text = std::move(patched);
    return true;
}

char UuChar(std::uint32_t v) {
    const std::uint32_t x = v & 0x3F;
    return x == 0 ? '`' : static_cast<char>(x + 0x20);
}

std::string UuencodeLine(std::span<const std::uint8_t> bytes, int n) {
    n = std::clamp(n, 0, FlashImage::kMaxLineBytes);
    std::string line;
    line.reserve(1 + 4 * FlashImage::kMaxLineBytes / 3);
    line.push_back(UuChar(static_cast<std::uint32_t>(n)));
    auto byteAt = [&](int i) -> std::uint32_t {
        return static_cast<std::size_t>(i) < bytes.size() ? bytes[static_cast<std::size_t>(i)] : 0u;
    };
    for (int i = 0; i < n; i += 3) {
        const std::uint32_t v = byteAt(i) << 16 | byteAt(i + 1) << 8 | byteAt(i + 2);
        line.push_back(UuChar(v >> 18));
        line.push_back(UuChar(v >> 12));
        line.push_back(UuChar(v >> 6));
        line.push_back(UuChar(v));
    }
    return line;
}

bool UudecodeLine(std::string_view line, std::vector<std::uint8_t>& bytes) {
    const auto value = [](char c) { return static_cast<std::uint32_t>(c - 0x20) & 0x3F; };
    if (line.empty() ||
        !std::all_of(line.begin(), line.end(), [](char c) { return c >= ' ' && c <= '`'; })) {
        return false;
    }
    const auto n = static_cast<std::size_t>(value(line[0]));
    if (n > static_cast<std::size_t>(FlashImage::kMaxLineBytes) ||
        line.size() != 1 + 4 * ((n + 2) / 3)) {
        return false;
    }
    for (std::size_t i = 1, taken = 0; taken < n; i += 4) {
        const std::uint32_t v = value(line[i]) << 18 | value(line[i + 1]) << 12 |
                                value(line[i + 2]) << 6 | value(line[i + 3]);
        for (int shift = 16; shift >= 0 && taken < n; shift -= 8, ++taken) {
            bytes.push_back(static_cast<std::uint8_t>(v >> shift));
        }
    }
    return true;
}

}  // namespace korvel
