#include "cli/station_console.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/terminal_console.h"

namespace korvel::cli {
namespace {

// Everything written to a stream since it was made.
class Captured {
  public:
    Captured() : file_(std::tmpfile()) {}
    ~Captured() { std::fclose(file_); }
    std::FILE* file() const { return file_; }
    std::string text() const {
        std::fflush(file_);
        std::rewind(file_);
        std::string out;
        for (int c; (c = std::fgetc(file_)) != EOF;) {
            out.push_back(static_cast<char>(c));
        }
        return out;
    }

  private:
    std::FILE* file_;
};

// The live lines as a terminal shows them: each drawn from a carriage
// return to the erase of the rest of its row.
std::vector<std::string> LiveLines(const std::string& out) {
    std::vector<std::string> lines;
    for (std::size_t end = out.find("\x1b[K"); end != std::string::npos;
         end = out.find("\x1b[K", end + 1)) {
        const std::size_t begin = out.rfind('\r', end);
        lines.push_back(out.substr(begin + 1, end - begin - 1));
    }
    return lines;
}

const std::string kById = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K5DEF-if00-port0";

TEST(StationConsoleTest, LiveLinesFitTheTerminalAndPortNamesAreShortenedInTheMiddle) {
    struct Case {
        int columns;
        std::vector<std::string> ports;
        std::vector<std::string> shown;  // each port as its live line starts
    };
    const Case cases[] = {
        {80, {"COM3", "usb:0403:6001:A10K3XYZ"}, {"COM3 ", "usb:0403:6001:A10K3XYZ ["}},
        {80,
         {"usb:0403:6001:A10K3XYZ", kById},
         {"usb:0403:6001:A10K3XYZ ", "/dev/serial/by-...5DEF-if00-port0 ["}},
        {40, {kById}, {"/de...rt0 ["}},
        // A width the system will not say: nothing is cut.
        {0, {kById}, {kById + " ["}},
        // Narrower than a bar: the line's end gives way.
        {20, {"COM3"}, {"COM3 "}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.columns);
        Captured out;
        {
            StationConsole console(out.file(), true, c.ports, {}, [&] { return c.columns; });
            for (std::size_t i = 0; i < c.ports.size(); ++i) {
                console.board(i).setMaximum(100);
                console.board(i).setPosition(37);
                console.board(i).setText("Sector 24 (0x0007A000-0x0007AFFF) prepared for writing");
            }
            console.message(0, "Programming succesful");
        }
        const auto lines = LiveLines(out.text());
        ASSERT_FALSE(lines.empty());
        for (const std::string& line : lines) {
            if (c.columns > 0) {
                EXPECT_LT(line.size(), static_cast<std::size_t>(c.columns)) << line;
            }
        }
        for (const std::string& start : c.shown) {
            bool found = false;
            for (const std::string& line : lines) {
                found = found || line.rfind(start, 0) == 0;
            }
            EXPECT_TRUE(found) << "no line starts " << start << "\n" << out.text();
        }
    }
}

TEST(StationConsoleTest, PortNamesStatusTextsAndMessagesReachTheTerminalEscaped) {
    for (const bool interactive : {true, false}) {
        SCOPED_TRACE(interactive);
        Captured out;
        {
            StationConsole console(out.file(), interactive, {"/tmp/a\x1b]0;owned\x07"}, {},
                                   [] { return 80; });
            console.board(0).setText("Erase\x1b[2J");
            console.message(0,
                            "Unable to open port /tmp/a\x9b"
                            "1A\r\nsecond line");
        }
        const std::string text = out.text();
        EXPECT_EQ(text.find("\x1b]"), std::string::npos) << text;
        EXPECT_EQ(text.find("\x1b[2J"), std::string::npos) << text;
        EXPECT_EQ(text.find('\x9b'), std::string::npos) << text;
        EXPECT_NE(text.find("/tmp/a\\x1B]0;owned\\x07: second line"), std::string::npos) << text;
    }
    Captured out;
    {
        TerminalConsole console(out.file(), true, [] { return 40; });
        console.setMaximum(10);
        console.setText("Sector 24 (0x0007A000-0x0007AFFF)\x1b[2J");
        console.message("Unable to open port /tmp/a\x1b[1A\r\nsecond line");
    }
    // The redrawn line: from its carriage return to the message's line end.
    const std::string text = out.text();
    const std::size_t lineEnd = text.find('\n');
    const std::size_t drawnAt = text.rfind('\r', lineEnd) + 1;
    const std::string drawn = text.substr(drawnAt, lineEnd - drawnAt);
    EXPECT_EQ(drawn.size(), 39u) << drawn;
    EXPECT_EQ(out.text().find("\x1b[1A"), std::string::npos) << out.text();
    EXPECT_NE(out.text().find("/tmp/a\\x1B[1A\nsecond line\n"), std::string::npos) << out.text();
}

}  // namespace
}  // namespace korvel::cli
