#include "fuzz/isp_fuzz_image.h"

namespace korvel::fuzz {

const std::string& IspFuzzImage() {
    static const std::string hex =
        ":10000000000102030405060708090A0B0C0D0E0F78\r\n"
        ":00000001FF\r\n";
    return hex;
}

}  // namespace korvel::fuzz
