#include "serial/win32_comm_state.h"

namespace korvel {

namespace {

// Read time-outs: return about 1 ms after the call with whatever has arrived.
constexpr DWORD kReadIntervalMs = 1;
constexpr DWORD kReadTotalMsPerByte = 0;
constexpr DWORD kReadTotalConstantMs = 1;
// Write time-outs: the slowest line still moves a byte in 100 ms.
constexpr DWORD kWriteTotalMsPerByte = 100;
constexpr DWORD kWriteTotalConstantMs = 1000;

}  // namespace

DCB MakeCommState(const DCB& current, const LineSettings& settings) {
    DCB dcb = current;
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = static_cast<DWORD>(settings.baudRate);
    dcb.ByteSize = 8;
    dcb.Parity = settings.parity == Parity::Odd    ? ODDPARITY
                 : settings.parity == Parity::Even ? EVENPARITY
                                                   : NOPARITY;
    dcb.StopBits = settings.stopBits == StopBits::Two ? TWOSTOPBITS : ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = settings.parity != Parity::None ? TRUE : FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    // An error on the line must not stall every later read and write.
    dcb.fAbortOnError = FALSE;
    return dcb;
}

COMMTIMEOUTS MakeCommTimeouts() {
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = kReadIntervalMs;
    t.ReadTotalTimeoutMultiplier = kReadTotalMsPerByte;
    t.ReadTotalTimeoutConstant = kReadTotalConstantMs;
    t.WriteTotalTimeoutMultiplier = kWriteTotalMsPerByte;
    t.WriteTotalTimeoutConstant = kWriteTotalConstantMs;
    return t;
}

}  // namespace korvel
