// The pictures of the drive list and of buttons, drawn in code so they need no
// image files and stay sharp at 32 and 64 pixels; and the program's icon.
#pragma once

#include <QIcon>
#include <QList>

namespace driveimages {

// Indices into DrivesImageList().
enum Image {
    InternalDisk = 0,
    PlainDrive = 1,
    FireWireDrive = 2,
    UsbDrive = 3,
    Folder = 4,
    SetSquare = 5,
    FloppyDrive = 6,
    PausedDisk = 7,
    ImageCount = 8
};

constexpr int ImageSize = 32;

// The pictures of buttons.
enum ButtonPicture { FolderPicture, CheckMarkPicture, AbortPicture };

}  // namespace driveimages

// The eight 32 x 32 pictures, in index order (each also carries a 64 x 64 pixmap).
QList<QIcon> DrivesImageList();

// A button's picture, 16 x 16 (with a 32 x 32 pixmap).
QIcon ButtonImage(driveimages::ButtonPicture picture);

// The program's icon, from its image files: the window's and the tray's icon.
QIcon ProgramIcon();
