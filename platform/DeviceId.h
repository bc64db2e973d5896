// The device's identifier at the web service: the stand-in for the phone's
// per-device unique identifier.
//
// deviceIdentifier(product) is $FLUVANE_DEVICE_ID when set and not empty;
// otherwise 40 lowercase hexadecimal digits, the SHA-1 of the machine's id
// followed by the product name. The machine id (/etc/machine-id, else
// /var/lib/dbus/machine-id) is never sent anywhere itself; only its digest
// mixed with the product name leaves the machine, so two products on one
// machine cannot be linked by it. A machine with neither file gets a random
// id made once and kept in home()/device-id (mode 0600).
//
// Threads: any thread; the environment and the files are read on every
// call.
#ifndef PLATFORM_DEVICEID_H
#define PLATFORM_DEVICEID_H

#include <string>
#include <string_view>

namespace platform {

std::string deviceIdentifier(std::string_view productName);
// The rule itself: SHA-1 hex of machineId followed by productName.
std::string deviceIdentifierFor(std::string_view machineId, std::string_view productName);

}  // namespace platform

#endif
