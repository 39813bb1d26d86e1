// The names that "%r" prints for status values.
#include "Library/PrintLib.h"

constexpr const CHAR8* StatusTextTable[StatusWarningCount + StatusErrorCount] = {
    "Success",                   //  0: warnings 0..5
    "Warning Unknown Glyph",     //
    "Warning Delete Failure",    //
    "Warning Write Failure",     //
    "Warning Buffer Too Small",  //
    "Warning Stale Data",        //
    "Load Error",                //  6: errors 1..33
    "Invalid Parameter",         //
    "Unsupported",               //
    "Bad Buffer Size",           //
    "Buffer Too Small",          //
    "Not Ready",                 //
    "Device Error",              //
    "Write Protected",           //
    "Out of Resources",          //
    "Volume Corrupt",            //
    "Volume Full",               //
    "No Media",                  //
    "Media changed",             //
    "Not Found",                 //
    "Access Denied",             //
    "No Response",               //
    "No mapping",                //
    "Time out",                  //
    "Not started",               //
    "Already started",           //
    "Aborted",                   //
    "ICMP Error",                //
    "TFTP Error",                //
    "Protocol Error",            //
    "Incompatible Version",      //
    "Security Violation",        //
    "CRC Error",                 //
    "End of Media",              //
    "Reserved (29)",             //
    "Reserved (30)",             //
    "End of File",               //
    "Invalid Language",          //
    "Compromised Data",          // 38: error 33
};
