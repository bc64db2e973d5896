// Device facts: which build, product, hardware model and OS version the
// application runs on, answered once and then from a cache.
//
// On Linux the facts come from the build (build and bundle versions, product
// name: constants of this file) and from uname (machine name, release). Each
// is overridable by an environment variable, read when the fact is first
// asked for, so that tests and users can play any device of the tables:
//   FLUVANE_BUILD_VERSION   build version       (default "1.0")
//   FLUVANE_BUNDLE_VERSION  bundle version      (default "1.0")
//   FLUVANE_PRODUCT_NAME    product name        (default "Fluvane")
//   FLUVANE_MACHINE         machine name        (default uname's machine)
//   FLUVANE_OS_VERSION      system version text (default uname's release)
//
// hardware_id maps the machine name: "iPhone1,1" 1, "iPhone1,2" 2, "iPod1,1"
// 3, "iPod2,1" 4, anything else 0. The device generation is 2 for hardware
// id 1 and 3 otherwise. os_version holds six components of the version text
// read left to right as integers (each "." skipped, reading stops at any
// other character), -1 for each absent one; a text that does not start with
// a number is not cached and is read again on the next call.
//
// Threads: every function may be called from any thread; the one-time
// filling of each cache is guarded. reset_device_facts is for tests only and
// must not run while other threads ask for facts.
#ifndef VXU_VXUTILS_H
#define VXU_VXUTILS_H

#include <string>

// "<build version> (<bundle version>)".
const std::string& build_id();
const std::string& product_name();
unsigned hardware_id();
// Six components; the array lives for the process.
const int* os_version();

// The machine name (FLUVANE_MACHINE, else uname's machine), the system's
// name (uname's sysname) and its version text (FLUVANE_OS_VERSION, else
// uname's release); read on every call.
std::string device_model();
std::string system_name();
std::string system_version();

// 2 for the first-generation phone (hardware id 1), 3 otherwise.
int device_generation();
// OS 2.1 or later: first component above 2, or 2 and second above 0.
bool os_2_1_or_later();

// The pure rules behind the cached facts.
unsigned hardware_id_for_machine(const std::string& machine);
// Fills six components from text; false when it does not start with a
// number (first component -1).
bool parse_os_version(const char* text, int components[6]);
bool is_os_2_1_or_later(const int components[6]);

// Forgets every cached fact, so the next calls read the environment again.
void reset_device_facts();

#endif
