#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "serial/serial_device.h"

namespace korvel {

// Turns the port number that procedures are built with into a device: a
// device registered for that number (tests, simulators), else the path the
// settings map COM<n> to, else the system's default for COM<n>.
class PortResolver {
  public:
    using Factory = std::function<std::unique_ptr<SerialDevice>()>;

    static PortResolver& instance();

    void mapPath(int portNumber, const std::string& path);
    void registerDevice(int portNumber, Factory factory);
    void unregisterDevice(int portNumber);
    void clear();

    std::unique_ptr<SerialDevice> makeDevice(int portNumber) const;
    // The device path COM<n> resolves to, for listings and messages.
    std::string describe(int portNumber) const;

  private:
    mutable std::mutex mutex_;
    std::map<int, std::string> paths_;
    std::map<int, Factory> factories_;
};

// Supplied by the platform's backend file.
std::string DefaultDevicePath(int portNumber);
std::unique_ptr<SerialDevice> MakePlatformDevice(const std::string& path);

}  // namespace korvel
