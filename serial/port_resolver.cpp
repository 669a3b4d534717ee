#include "serial/port_resolver.h"

namespace korvel {

PortResolver& PortResolver::instance() {
    static PortResolver resolver;
    return resolver;
}

void PortResolver::mapPath(int portNumber, const std::string& path) {
    std::lock_guard lock(mutex_);
    paths_[portNumber] = path;
}

void PortResolver::registerDevice(int portNumber, Factory factory) {
    std::lock_guard lock(mutex_);
    factories_[portNumber] = std::move(factory);
}

void PortResolver::unregisterDevice(int portNumber) {
    std::lock_guard lock(mutex_);
    factories_.erase(portNumber);
}

void PortResolver::clear() {
    std::lock_guard lock(mutex_);
    paths_.clear();
    factories_.clear();
}

std::unique_ptr<SerialDevice> PortResolver::makeDevice(int portNumber) const {
    Factory factory;
    {
        std::lock_guard lock(mutex_);
        if (auto it = factories_.find(portNumber); it != factories_.end()) {
            factory = it->second;
        }
    }
    if (factory) {
        return factory();
    }
    return MakePlatformDevice(describe(portNumber));
}

std::string PortResolver::describe(int portNumber) const {
    std::lock_guard lock(mutex_);
    if (auto it = paths_.find(portNumber); it != paths_.end()) {
        return it->second;
    }
    return DefaultDevicePath(portNumber);
}

}  // namespace korvel
