// The synthesis toolkit's base: sample rate, error path, messages and the
// abstract instrument.
#include "chip/syn/syn.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "chip/util/chip_errmsg.h"

float Syn::srate = 44100.0f;
const char* Syn::rawwavepath = "../../rawwaves/";
int little_endian = 0;

namespace {

// One line through the engine's printing (the application log).
void print_line(const char* format, va_list args) {
  char text[1024];
  std::vsnprintf(text, sizeof text, format, args);
  EM_printf("%s\n", text);
}

}  // namespace

void syn_warn(const char* format, ...) {
  va_list args;
  va_start(args, format);
  print_line(format, args);
  va_end(args);
}

// ---------------------------------------------------------------------------
// SynError

SynError::SynError(const char* text, TYPE kind) : Frame_Error(text), type(kind) {}

void SynError::printMessage() const { syn_warn("%s", message); }

// ---------------------------------------------------------------------------
// Syn

void Syn::handleError(const char* message, SynError::TYPE type) {
  if (type == SynError::DEBUG_WARNING) return;
  syn_warn("%s", message ? message : "");
  if (type == SynError::WARNING) return;
  SynError error(message, type);
  error.markReported();
  throw error;
}

// ---------------------------------------------------------------------------
// SynOnce

void SynOnce::warn(const char* format, ...) {
  if (said) return;
  said = true;
  va_list args;
  va_start(args, format);
  print_line(format, args);
  va_end(args);
}

// ---------------------------------------------------------------------------
// Instrmnt

void Instrmnt::noteOff(float amplitude) { (void)amplitude; }

void Instrmnt::setFrequency(float frequency) {
  (void)frequency;
  syn_warn(SYN_PREFIX "Instrmnt: virtual setFrequency function call!");
}

float* Instrmnt::tick(float* vector, unsigned int size) {
  for (unsigned int i = 0; i < size; i++) vector[i] = tick();
  return vector;
}

void Instrmnt::controlChange(int number, float value) {
  (void)number;
  (void)value;
}
