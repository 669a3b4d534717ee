#pragma once

namespace korvel {

// Sets input and output speed to any positive rate, standard or not.
// Returns 0 or the errno of the failure. Kept apart from the termios code
// because Linux's arbitrary-rate interface cannot share a unit with <termios.h>.
int SetPosixBaudRate(int fd, int baudRate);
// The output speed a tty is set to, or 0 when it cannot be read.
int GetPosixBaudRate(int fd);

}  // namespace korvel
