// Reading one sysfs attribute through the platform, for the health sources.
#ifndef QARVEL_HEALTH_SYSFS_H
#define QARVEL_HEALTH_SYSFS_H

#include <string>

namespace qarvel {

// The attribute's bytes (at most 256): false with `error` set to the errno of the open or
// read that failed (EIO, ENODATA, EAGAIN from a driver that could not ask its chip).
bool ReadAttribute(const std::string& path, std::string& text, int& error);

}  // namespace qarvel

#endif
