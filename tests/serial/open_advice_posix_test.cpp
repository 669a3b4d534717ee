// What a user whose port would not open is told: the device path as
// given, and a group to join only when joining it would let them in.
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>

#include "serial/open_advice.h"
#include "tests/support/temp_dir.h"

namespace korvel {
namespace {

// A group other than root's that the system can name, for a device file.
const struct group* OrdinaryGroup() {
    if (::getgid() != 0) {
        return ::getgrgid(::getgid());
    }
    return ::getgrnam("dialout");
}

TEST(OpenAdvicePosixTest, NamesTheDeviceAndAGroupOnlyWhenJoiningItHelps) {
    const struct group* ordinary = OrdinaryGroup();
    ASSERT_NE(ordinary, nullptr) << "no group to give the device";
    const std::string ordinaryName = ordinary->gr_name;
    const gid_t ordinaryGid = ordinary->gr_gid;
    test::TempDir dir;
    const std::string kDenied = "Permission denied";
    const std::string kJoin = "Add your user to the group that owns the device: sudo usermod -aG " +
                              ordinaryName + " $USER, then log in again.";
    const std::string kAdmin =
        "No group of yours may use this device: an administrator must grant access to it, for "
        "example with a udev rule that gives it a group such as dialout.";
    struct Case {
        const char* name;
        std::string device;
        mode_t mode;  // 0: leave the device as it is
        OpenFailure failure;
        std::string hint;
    };
    const Case cases[] = {
        {"owned by root:root", "/dev/null", 0, {EACCES, kDenied, true}, kAdmin},
        {"group may read and write",
         dir.write("ttyGROUP", ""),
         0660,
         {EACCES, kDenied, true},
         kJoin},
        {"group may not write", dir.write("ttyOWNER", ""), 0640, {EACCES, kDenied, true}, kAdmin},
        {"missing",
         dir.path("ttyGONE").string(),
         0,
         {ENOENT, "No such file or directory", false},
         "Check the cable and the port; 'korvel-cli ports' lists the devices present."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.mode != 0) {
            ASSERT_EQ(::chown(c.device.c_str(), static_cast<uid_t>(-1), ordinaryGid), 0);
            ASSERT_EQ(::chmod(c.device.c_str(), c.mode), 0);
        }
        const std::string advice = OpenAdvice(c.device, c.failure);
        EXPECT_EQ(advice, c.device + ": " + c.failure.text + ". " + c.hint);
        EXPECT_EQ(advice.find("-aG root"), std::string::npos);
    }
}

}  // namespace
}  // namespace korvel
