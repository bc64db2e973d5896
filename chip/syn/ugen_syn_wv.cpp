// The toolkit module's sound-file classes: WvIn, WaveLoop and WvOut.
//
// WvIn and WaveLoop wrap the reader (chip/syn/syn_wvin.h) in the hidden
// member "@WvIn_data", which WaveLoop shares. Their tick outputs the next
// sample scaled by the source's own full scale (outputScale(): 16-bit files
// and the built-in tables by 1/32767, 8-bit by 1/127, 32-bit integers by
// 1/2147483647, floats as they are), or 0 while nothing is loaded. `path`
// opens a source (not normalised; the built-in "special:" tables included);
// a failure prints the reader's message and leaves it silent.
//
// WvOut wraps the writer (chip/syn/syn_wvout.h) and passes its input
// through; while `record` is on and a file is open it writes each sample.
// The five file-name setters open a one-channel 16-bit file of their type
// (MAT switches to 64-bit floats); a name containing "special:auto" is
// replaced by an automatic one, "<autoPrefix>(<ctime>)<extension>" with the
// first two ':' of the time as 'h' and 'm'. Every writer a script opened
// is listed in the open-file map until it is closed or destroyed, and
// syn_detach closes whatever is still listed at shutdown.
//
// String results are fresh string objects (the receiver takes the
// reference); the reader and writer keep their names as plain text.
#include <cstring>
#include <ctime>
#include <map>
#include <string>

#include "chip/syn/syn_wvin.h"
#include "chip/syn/syn_wvout.h"
#include "chip/syn/ugen_syn.h"
#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_instr.h"

t_CPWORD WvIn_offset_data = FRAME_NO_OFFSET;
t_CPWORD WvOut_offset_data = FRAME_NO_OFFSET;

namespace {

// The writers scripts opened, in address order (key and value the same).
std::map<WvOut*, WvOut*> g_wv;

// A writer of the language class: leaves the open-file map when destroyed.
class Language_WvOut : public WvOut {
 public:
  Language_WvOut() { autoPrefix = "chip-session"; }
  ~Language_WvOut() override {
    try {
      closeFile();
    } catch (const SynError&) {
      // printed; the file is closed
    }
    g_wv.erase(this);
  }
};

// A new string object holding text, for a result.
Chip_String* new_text(const std::string& text) {
  Chip_Object* object = instantiate_and_initialize_object(&t_string, nullptr);
  if (!object) return nullptr;
  Chip_String* string = static_cast<Chip_String*>(object);
  string->str = text;
  return string;
}

std::string text_arg(void* args) {
  Chip_String* s = GET_NEXT_STRING(args);
  return s ? s->str : std::string();
}

// ---------------------------------------------------------------------------
// WvIn, WaveLoop

const Frame_Member kWvInMembers[] = {
    frame_prop(
        "rate", "float",
        [](Frame_Slot& s, double v) {
          WvIn& in = s.as<WvIn>();
          in.setRate(v);
          return double(in.rate);
        },
        [](Frame_Slot& s) { return double(s.as<WvIn>().rate); }),
    frame_method("path", "string",
                 [](Frame_Slot& s, void* args, Chip_DL_Return* ret) {
                   WvIn& in = s.as<WvIn>();
                   try {
                     in.openFile(text_arg(args).c_str(), false, false, true);
                   } catch (const SynError&) {
                     // printed; the reader stays empty
                   }
                   ret->v_object = new_text(in.getPath());
                 },
                 {"string", "value"}),
    frame_method("path", "string",
                 [](Frame_Slot& s, void*, Chip_DL_Return* ret) {
                   ret->v_object = new_text(s.as<WvIn>().getPath());
                 }),
    frame_method("reset", "void",
                 [](Frame_Slot& s, void*, Chip_DL_Return*) { s.as<WvIn>().reset(); }),
};

const Frame_Member kWaveLoopMembers[] = {
    frame_prop(
        "freq", "float",
        [](Frame_Slot& s, double v) {
          WaveLoop& loop = s.as<WaveLoop>();
          loop.setFrequency(v);
          return double(loop.frequency);
        },
        [](Frame_Slot& s) { return double(s.as<WaveLoop>().frequency); }),
    frame_prop(
        "addPhase", "float", [](Frame_Slot& s, double v) { return s.as<WaveLoop>().addPhase(v); },
        [](Frame_Slot& s) { return s.as<WaveLoop>().getPhase(); }),
    frame_prop(
        "addPhaseOffset", "float",
        [](Frame_Slot& s, double v) {
          WaveLoop& loop = s.as<WaveLoop>();
          loop.addPhaseOffset(v);
          return double(loop.phaseOffset);
        },
        [](Frame_Slot& s) { return double(s.as<WaveLoop>().phaseOffset); }),
};

SAMPLE tick_reader(Frame_Slot& s, SAMPLE) {
  WvIn& in = s.as<WvIn>();
  if (!in.isLoaded()) return 0.0f;
  return in.tick() * in.outputScale();
}

// ---------------------------------------------------------------------------
// WvOut

// The automatic name for a setter's extension; empty (after the message)
// when the prefix makes it too long for its 1024-byte buffer.
std::string automatic_name(const WvOut& out, const char* extension) {
  char when[32] = {0};
  const std::time_t now = std::time(nullptr);
  struct tm local;
  if (!localtime_r(&now, &local) || !asctime_r(&local, when)) std::strcpy(when, "unknown time");
  when[24] = '\0';
  int colons = 0;
  for (char* c = when; *c; c++) {
    if (*c == ':' && colons < 2) *c = colons++ == 0 ? 'h' : 'm';
  }
  char name[1024];
  const int n =
      std::snprintf(name, sizeof name, "%s(%s)%s", out.autoPrefix.c_str(), when, extension);
  if (n < 0 || size_t(n) >= sizeof name) {
    Syn::handleError(SYN_PREFIX_WVOUT "Automatic file name too long for its prefix.",
                     SynError::FUNCTION_ARGUMENT);
  }
  return name;
}

// The procedure of the five file-name setters.
void open_named(Frame_Slot& s, void* args, Chip_DL_Return* ret, int type, const char* extension) {
  WvOut& out = s.as<WvOut>();
  std::string name = text_arg(args);
  try {
    if (name.find("special:auto") != std::string::npos) name = automatic_name(out, extension);
    out.openFile(name.c_str(), 1, type, WvOut::SINT16);
    g_wv[&out] = &out;
  } catch (const SynError&) {
    // printed; nothing is open
    g_wv.erase(&out);
  }
  ret->v_object = new_text(out.getFilename());
}

void close_named(Frame_Slot& s, void*, Chip_DL_Return* ret) {
  WvOut& out = s.as<WvOut>();
  try {
    out.closeFile();
  } catch (const SynError&) {
    // printed; the file is closed
  }
  g_wv.erase(&out);
  ret->v_object = new_text(out.getFilename());
}

const Frame_Member kWvOutMembers[] = {
    frame_method(
        "wavFilename", "string",
        [](Frame_Slot& s, void* a, Chip_DL_Return* r) { open_named(s, a, r, WvOut::WAV, ".wav"); },
        {"string", "value"}),
    frame_method(
        "aifFilename", "string",
        [](Frame_Slot& s, void* a, Chip_DL_Return* r) { open_named(s, a, r, WvOut::AIF, ".aiff"); },
        {"string", "value"}),
    frame_method(
        "sndFilename", "string",
        [](Frame_Slot& s, void* a, Chip_DL_Return* r) { open_named(s, a, r, WvOut::SND, ".snd"); },
        {"string", "value"}),
    frame_method(
        "rawFilename", "string",
        [](Frame_Slot& s, void* a, Chip_DL_Return* r) { open_named(s, a, r, WvOut::RAW, ".raw"); },
        {"string", "value"}),
    frame_method(
        "matFilename", "string",
        [](Frame_Slot& s, void* a, Chip_DL_Return* r) { open_named(s, a, r, WvOut::MAT, ".mat"); },
        {"string", "value"}),
    frame_method("filename", "string",
                 [](Frame_Slot& s, void*, Chip_DL_Return* ret) {
                   ret->v_object = new_text(s.as<WvOut>().getFilename());
                 }),
    frame_prop(
        "record", "int",
        [](Frame_Slot& s, double v) {
          s.as<WvOut>().record = v != 0.0;
          return double(s.as<WvOut>().record);
        },
        [](Frame_Slot& s) { return double(s.as<WvOut>().record); }),
    frame_method("closeFile", "string", close_named, {"string", "value"}),
    frame_method("closeFile", "string", close_named),
    frame_method("autoPrefix", "string",
                 [](Frame_Slot& s, void* args, Chip_DL_Return* ret) {
                   WvOut& out = s.as<WvOut>();
                   out.autoPrefix = text_arg(args);
                   ret->v_object = new_text(out.autoPrefix);
                 },
                 {"string", "value"}),
    frame_method("autoPrefix", "string",
                 [](Frame_Slot& s, void*, Chip_DL_Return* ret) {
                   ret->v_object = new_text(s.as<WvOut>().autoPrefix);
                 }),
};

SAMPLE tick_writer(Frame_Slot& s, SAMPLE in) {
  WvOut& out = s.as<WvOut>();
  if (!out.record) return in;
  try {
    out.tick(in);
  } catch (const SynError&) {
    // A failed write (printed) ends the recording; the input still passes.
    try {
      out.closeFile();
    } catch (const SynError&) {
    }
    g_wv.erase(&out);
  }
  return in;
}

}  // namespace

SYN_CLASS(WvIn) = {
    "WvIn", "UGen", "@WvIn_data", &WvIn_offset_data,
    [](Chip_Object*) -> Frame_Obj* { return new WvIn; }, tick_reader, frame_pmsg_true,
    FRAME_MEMBERS(kWvInMembers)};
SYN_CLASS(WaveLoop) = {
    "WaveLoop", "WvIn", nullptr, &WvIn_offset_data,
    [](Chip_Object*) -> Frame_Obj* { return new WaveLoop; }, tick_reader, frame_pmsg_true,
    FRAME_MEMBERS(kWaveLoopMembers)};
SYN_CLASS(WvOut) = {
    "WvOut", "UGen", "@WvOut_data", &WvOut_offset_data,
    [](Chip_Object*) -> Frame_Obj* { return new Language_WvOut; }, tick_writer, frame_pmsg_true,
    FRAME_MEMBERS(kWvOutMembers)};

size_t syn_open_writer_count() { return g_wv.size(); }

void syn_close_open_writers() {
  for (auto& entry : g_wv) {
    try {
      entry.second->closeFile();
    } catch (const SynError&) {
      // printed; the file is closed
    }
  }
  g_wv.clear();
}
