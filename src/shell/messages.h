// The eleven message texts the code shows or logs, in the active language.
#pragma once

#include <string>

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
