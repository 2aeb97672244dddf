// The two ways of asking a disk for its serial number directly. Both need
// the device node and the right to send it commands; in containers and
// virtual machines they usually have neither and simply give empty text.
#pragma once

#include <string>

namespace platform {

// The 512-byte IDENTIFY DEVICE block of the first ATA disk, its text fields
// in the order the drive sends them (the two characters of each word
// swapped). Empty when there is no such disk or it does not answer.
std::string readFirstDiskIdentify();

// The unit serial number page (vital product data page 0x80) of the disk
// holding "/", as many bytes as the disk returned of the 192 asked for.
// Empty when the request fails.
std::string readRootDiskSerialPage();

}  // namespace platform
