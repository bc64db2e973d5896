// The two roots by which the binding frame (chip/vm/ugen_frame.h) knows a
// module's native classes, kept apart from the engine so that those classes
// stay plain C++ that builds and tests without a machine.
//
// Frame_Obj: every native object a language class wraps derives from it, so
// the frame can delete whichever object an object's slot holds (a subclass
// may replace its parent's object) and hand it to members as its own class.
//
// Frame_Error: what a native class throws when a call cannot be carried out.
// The frame catches it around every call, prints it once, and the script
// goes on; nothing thrown ever reaches the machine. An error raised with
// haltShred() set ends the shred that made the member call (after the
// current instruction): for arguments that leave a member nothing sensible
// to do, such as an invalid transform size.
#ifndef CHIP_VM_FRAME_OBJECT_H
#define CHIP_VM_FRAME_OBJECT_H

#include <cstdio>

class Frame_Obj {
 public:
  virtual ~Frame_Obj() = default;
};

class Frame_Error {
 public:
  // The message, cut to 255 characters.
  explicit Frame_Error(const char* text) {
    std::snprintf(message, sizeof message, "%s", text ? text : "");
  }
  virtual ~Frame_Error() = default;
  virtual const char* getMessage() const { return message; }
  // The prefix the frame prints before a message that carries none of its
  // own ("[chip](via ...").
  virtual const char* prefix() const { return "[chip]: "; }
  // Whether the message was printed when the error was raised; the frame
  // prints the others when it catches them.
  bool wasReported() const { return reported; }
  void markReported() { reported = true; }
  // Whether the shred that called the member is to be stopped.
  bool haltsShred() const { return halt; }
  void haltShred() { halt = true; }

 protected:
  char message[256];
  bool reported = false;
  bool halt = false;
};

#endif
