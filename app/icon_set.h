#pragma once

#include <QIcon>

namespace korvel::app {

// The window's action images, by their index in the image list.
enum class ActionImage : int {
    Program = 0,
    Load = 1,
    Help = 3,
    Exit = 4,
    Stop = 5,
};

// The pictures of the message dialog's buttons.
enum class DialogPicture {
    Confirm,  // every confirming button
    Refuse,   // the refusing button of a two-button page
    No,       // the single button of the No page
};

// Vector images, drawn anew at every size so they stay sharp at any scaling;
// where the build's Qt cannot draw SVG, bitmaps drawn from them at build time.
QIcon ActionIcon(ActionImage image);
QIcon DialogIcon(DialogPicture picture);
QIcon ProgramIcon();

}  // namespace korvel::app
