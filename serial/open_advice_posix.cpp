#include <grp.h>
#include <sys/stat.h>

#include <cerrno>

#include "serial/open_advice.h"

namespace korvel {

std::string OpenHint(const std::string& devicePath, const OpenFailure& failure) {
    if (failure.permissionDenied) {
        // Joining the device's group helps only when that group may read and
        // write it, and never means joining root's group.
        struct stat st {};
        const struct group* g = nullptr;
        if (::stat(devicePath.c_str(), &st) == 0 && st.st_gid != 0 &&
            (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP)) {
            g = ::getgrgid(st.st_gid);
        }
        if (g != nullptr) {
            return "Add your user to the group that owns the device: sudo usermod -aG " +
                   std::string(g->gr_name) + " $USER, then log in again.";
        }
        return "No group of yours may use this device: an administrator must grant access to "
               "it, for example with a udev rule that gives it a group such as dialout.";
    }
    if (failure.code == ENOENT) {
        return "Check the cable and the port; 'korvel-cli ports' lists the devices present.";
    }
    return "";
}

}  // namespace korvel
