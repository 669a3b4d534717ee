#pragma once

#include <map>
#include <string>
#include <vector>

namespace korvel {

// The program's few settings: an INI file (see DefaultSettingsFile),
// overridden for the life of the process by the command line.
class Settings {
  public:
    static constexpr const char* kSection = "SETTINGS";
    static constexpr const char* kPortsSection = "PORTS";
    // Korvel's own keys: Verify is saved here, the window's options
    // (app/korvel_options.h) write the rest; korvel-cli only reads them.
    static constexpr const char* kKorvelSection = "KORVEL";
    static constexpr int kMaxPort = 256;
    static constexpr std::size_t kMaxOptionValue = 256;

    // The process-wide settings, loaded on first access from the file and the
    // arguments given to Initialise (which must come first).
    static Settings& Instance();
    // fileName: the settings file; args: the command line without the program
    // name; readOnly: never create or write the file (the headless front end).
    static void Initialise(std::string fileName, std::vector<std::string> args, bool readOnly);

    Settings(std::string fileName, bool readOnly = false);

    // Defaults, then the file (created with the defaults when missing), then the arguments.
    void Load(const std::vector<std::string>& args);
    // Writes LastFiles, serialPort and AutoRun, keeping everything else in the file.
    void Save() const;

    const std::string& fileName() const { return fileName_; }
    // What the last Load could not take from the file, each naming the file
    // and the value, and what is used instead; for the front end to show.
    const std::vector<std::string>& warnings() const { return warnings_; }

    std::string LastFiles;
    int serialPort = 1;  // [SETTINGS] SerialPort
    bool AutoRun = false;
    // Read the flash back after programming where the loader can (the window's check box).
    bool Verify = false;
    // Set only from the command line (-U): end the process after one run.
    std::string unattendedExit;
    // COM<n> to a device path, from the read-only [PORTS] section.
    std::map<int, std::string> ports;
    // How DTR and RTS reset the board ("none", "dtr-rts,..."), from the
    // [KORVEL] section (the window's options write it); the front end reads
    // the text.
    std::string resetLines = "none";  // [KORVEL] ResetLines
    // The SHA-256 (hex) of the only package a run may program; empty: any.
    // Read, never written: a station's set-up pins it by hand.
    std::string expectSha256;  // [KORVEL] ExpectSha256

  private:
    void readFile();
    void applyArguments(const std::vector<std::string>& args);

    std::string fileName_;
    bool readOnly_;
    std::vector<std::string> warnings_;
};

// The settings file that every front end shares: korvel.ini beside the
// running executable when it is there or can be made there, else in the
// user's configuration directory (see settings_location.h).
std::string DefaultSettingsFile();
// Where the running executable lives (empty when the system will not say).
std::string ExecutablePath();
// How a package path given as the only argument is stored: upper case where
// file names ignore case, unchanged where upper-casing would break it.
std::string ArgumentPackagePath(const std::string& argument);

}  // namespace korvel
