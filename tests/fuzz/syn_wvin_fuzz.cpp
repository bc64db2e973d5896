// libFuzzer target: the toolkit's sound-file readers (WAV, SND, AIFF/AIFC,
// MAT 5, raw) on arbitrary bytes. Each input is written to a file in a
// private temporary folder and opened as a sound file, as a raw file and as
// a loop; whatever opens is played forwards, backwards and wrapped. A
// failure to open is a message, never a fault.
//
// Seeds: seeds/syn_wvin/, the valid headers of every format that the
// hostile-file tests start from (tests/chip/support/sound_file_support.h).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "chip/syn/syn.h"
#include "chip/syn/syn_wvin.h"
#include "chip/util/chip_errmsg.h"

namespace {

std::string g_folder;
std::string g_path;

void remove_folder() {
  std::error_code ignored;
  std::filesystem::remove_all(g_folder, ignored);
}

void quiet(const char*, va_list) {}
void flush() {}
const EM_Sink kQuiet{quiet, flush};

void play(WvIn& reader) {
  if (!reader.isLoaded()) return;
  for (int i = 0; i < 64; i++) reader.tick();
  reader.setRate(-1.5);
  reader.addTime(1e9);
  for (int i = 0; i < 64; i++) reader.tick();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string pattern = (std::filesystem::temp_directory_path() / "fluvane-fuzz-XXXXXX").string();
  if (!mkdtemp(pattern.data())) std::abort();
  g_folder = pattern;
  g_path = g_folder + "/input";
  std::atexit(remove_folder);
  EM_set_sink(&kQuiet);
  little_endian = 1;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* f = std::fopen(g_path.c_str(), "wb");
  if (!f) std::abort();
  if (size && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
  for (bool raw : {false, true}) {
    WvIn reader;
    try {
      reader.openFile(g_path.c_str(), raw, size % 2 == 0, true);
    } catch (const SynError&) {
    }
    play(reader);
  }
  WaveLoop loop;
  try {
    loop.openFile(g_path.c_str(), false, true, true);
  } catch (const SynError&) {
  }
  loop.addPhaseOffset(0.3);
  play(loop);
  return 0;
}
