// The eleven message texts the code shows or logs, in the active language.
#pragma once

#include <string>

#include "drive/drivelist.h"

struct MessageStrings {
    std::string strSTitleERROR;
    std::string strSBADDisk;
    std::string strSVISTA;
    std::string strSVISTATitle;
    std::string strSNoHardDrives;
    std::string strSaddFloppyDrives;
    std::string strSSearchForFloppyDrives;
    std::string SSearchForHardDrives;
    std::string SAddHardDrives;
    std::string SInfoSelectDriveandContinue;
    std::string StrCheckValues;
};

// The drive list's texts from the active language's messages.
inline DriveListTexts DriveListTextsOf(const MessageStrings& m) {
    DriveListTexts t;
    t.searchFloppyDrives = m.strSSearchForFloppyDrives;
    t.addFloppyDrive = m.strSaddFloppyDrives;
    t.searchHardDrives = m.SSearchForHardDrives;
    t.noHardDrives = m.strSNoHardDrives;
    t.addHardDrive = m.SAddHardDrives;
    t.selectDriveAndContinue = m.SInfoSelectDriveandContinue;
    t.nothingListed = m.strSVISTA;
    t.nothingListedCaption = m.strSVISTATitle;
    return t;
}
