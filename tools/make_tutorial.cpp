// make_tutorial: writes the help tune, the instrument's own short melody,
// as a snippet's text form ("tutorial.txt") through saveSnippet.
//
//   make_tutorial <output file>
//
// The melody climbs the first five degrees of the scale and comes back,
// then leaps to the octave's third and settles on the root: each note a
// finger mask (docs/fingering.md) held for its length in beats at 96 beats
// a minute, with a steady breath and no tilt. Between notes the breath
// drops for a short gap, so repeated masks sound as two notes.
#include <cstdio>

#include "recorder/FluvaneSnippet.h"
#include "recorder/FluvaneVCR.h"

namespace {

struct Note {
  int mask;
  double beats;
};

// Degrees 0 1 2 3 4 3 2 1 0, then 7 (octave) 9 and home.
const Note kMelody[] = {{15, 1}, {14, 1}, {11, 1}, {13, 1}, {12, 2}, {13, 1}, {11, 1},
                        {14, 1}, {15, 2}, {4, 1},  {1, 1},  {4, 1},  {15, 3}};

constexpr double kRate = 16000.0;
constexpr double kBeat = 60.0 / 96.0 * kRate;  // samples
constexpr double kGap = 0.04 * kRate;
constexpr double kBreath = 0.7;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_tutorial <output file>\n");
    return 2;
  }
  FluvaneSnippet tune;
  tune.root = 60;
  tune.mode = 0;
  double last = 0.0;  // time of the last snapshot
  double now = 0.0;
  for (const Note& note : kMelody) {
    uint32_t on = FluvaneVCR::pack(note.mask, 0.0, 0.0, kBreath);
    tune.snapshots.push_back({static_cast<float>(now - last), on});
    last = now;
    now += note.beats * kBeat - kGap;
    uint32_t gap = FluvaneVCR::pack(note.mask, 0.0, 0.0, 0.0);
    tune.snapshots.push_back({static_cast<float>(now - last), gap});
    last = now;
    now += kGap;
  }
  tune.duration = static_cast<float>(now);
  if (!prepare(tune) || !saveSnippet(tune, argv[1])) {
    std::fprintf(stderr, "make_tutorial: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
