// The few platform calls that the readers make, for the fuzz targets: they
// parse bytes handed to them and never open files or show messages.
//
// Fuzzer thread. No units.
#include "platform/platform.h"

namespace platform {

std::string dataPath(const char* path) {
    return path ? path : "";
}

bool readDataFile(const char*, std::vector<unsigned char>& out) {
    out.clear();
    return false;
}

void showErrorBox(const char*, const char*) {}

void setMessageBoxesEnabled(bool) {}

} // namespace platform
