// One rule for every instrument's control change: a value on the 0..128
// scale is normalised to value / 128, a negative value (or -inf) prints
// "<who>: Control value less than zero!" and acts as 0, a value above 128
// (or +inf) prints "<who>: Control value greater than 128.0!" and acts as
// 128, and a NaN prints "<who>: Control value is not a number!" and
// changes nothing. A table over every toolkit instrument that has control
// changes, each read back through a control that stores its 0..1 value.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "chip/syn/syn.h"
#include "chip/syn/syn_banded.h"
#include "chip/syn/syn_fm.h"
#include "chip/syn/syn_mesh.h"
#include "chip/syn/syn_modal.h"
#include "chip/syn/syn_moog.h"
#include "chip/syn/syn_shakers.h"
#include "chip/syn/syn_strings.h"
#include "chip/syn/syn_voicform.h"
#include "chip/syn/syn_winds.h"
#include "log_capture.h"

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

struct Instrument_Row {
  const char* name;
  const char* who;  // the name its control messages carry
  int number;       // a control whose 0..1 value the instrument keeps
  std::function<Instrmnt*()> make;
  // That value as kept, on the 0..1 scale.
  std::function<double(Instrmnt&)> read;
  // The control adds its value to what is kept instead of replacing it.
  bool adds = false;
};

template <typename T>
std::function<double(Instrmnt&)> field(std::function<double(T&)> get) {
  return [get](Instrmnt& i) { return get(static_cast<T&>(i)); };
}

const std::vector<Instrument_Row>& instruments() {
  static const std::vector<Instrument_Row> rows = {
      {"BandedWG", "BandedWG", 2, [] { return new BandedWG; },
       field<BandedWG>([](BandedWG& i) { return i.storedBowPressure; })},
      {"BlowBotl", "BlowBotl", 4, [] { return new BlowBotl; },
       field<BlowBotl>([](BlowBotl& i) { return i.storedNoiseGain; })},
      {"BlowHole", "BlowHole", 2, [] { return new BlowHole(20.0f); },
       field<BlowHole>([](BlowHole& i) { return i.storedReed; })},
      {"Bowed", "Bowed", 2, [] { return new Bowed(40.0f); },
       field<Bowed>([](Bowed& i) { return i.storedBowPressure; })},
      {"Brass", "Brass", 2, [] { return new Brass(20.0f); },
       field<Brass>([](Brass& i) { return i.storedLip; })},
      {"Clarinet", "Clarinet", 2, [] { return new Clarinet(30.0f); },
       field<Clarinet>([](Clarinet& i) { return i.storedReed; })},
      {"Flute", "Flute", 4, [] { return new Flute(40.0f); },
       field<Flute>([](Flute& i) { return i.storedNoiseGain; })},
      {"Mandolin", "Mandolin", 4, [] { return new Mandolin(20.0f); },
       field<Mandolin>([](Mandolin& i) { return double(i.pluckPosition); })},
      {"ModalBar", "ModalBar", 11, [] { return new ModalBar; },
       field<ModalBar>([](ModalBar& i) { return i.storedVibratoGain; })},
      {"Moog", "Moog", 128, [] { return new Moog; },
       field<Moog>([](Moog& i) { return i.storedVolume; })},
      {"Saxofony", "Saxofony", 2, [] { return new Saxofony(20.0f); },
       field<Saxofony>([](Saxofony& i) { return i.storedReed; })},
      // Energy 2 adds norm x 200 to the shaking energy.
      {"Shakers", "Shakers", 2, [] { return new Shakers; },
       field<Shakers>([](Shakers& i) { return double(i.excitation) / 200.0; }), true},
      {"StifKarp", "StifKarp", 4, [] { return new StifKarp(20.0f); },
       field<StifKarp>([](StifKarp& i) { return double(i.pickupPosition); })},
      {"VoicForm", "VoicForm", 128, [] { return new VoicForm; },
       field<VoicForm>([](VoicForm& i) { return double(i.voiced.envelope.target); })},
      // The FM voices share FM's control change and its messages, except
      // FMVoices, which has its own.
      {"FM", "FM", 1, [] { return new BareFM; },
       field<FM>([](FM& i) { return double(i.modDepth); })},
      {"BeeThree", "FM", 1, [] { return new BeeThree; },
       field<FM>([](FM& i) { return double(i.modDepth); })},
      {"FMVoices", "FMVoices", 1, [] { return new FMVoices; },
       field<FM>([](FM& i) { return double(i.modDepth); })},
      {"HevyMetl", "FM", 1, [] { return new HevyMetl; },
       field<FM>([](FM& i) { return double(i.modDepth); })},
      {"PercFlut", "FM", 1, [] { return new PercFlut; },
       field<FM>([](FM& i) { return double(i.modDepth); })},
      {"Rhodey", "FM", 1, [] { return new Rhodey; },
       field<FM>([](FM& i) { return double(i.modDepth); })},
      {"TubeBell", "FM", 1, [] { return new TubeBell; },
       field<FM>([](FM& i) { return double(i.modDepth); })},
      {"Wurley", "FM", 1, [] { return new Wurley; },
       field<FM>([](FM& i) { return double(i.modDepth); })},
      // Decay 0.9 + 0.1 x norm.
      {"Mesh2D", "Mesh2D", 11, [] { return new Mesh2D(2, 2); },
       field<Mesh2D>([](Mesh2D& i) { return (double(i.filterY[0].gain) - 0.9) / 0.1; })},
  };
  return rows;
}

struct Value_Case {
  float value;
  const char* message;  // after "<who>: "; nullptr for none
  double norm;          // the value kept; negative: the one held before
};

const Value_Case kValues[] = {
    {64.0f, nullptr, 0.5},
    {0.0f, nullptr, 0.0},
    {128.0f, nullptr, 1.0},
    {-5.0f, "Control value less than zero!", 0.0},
    {-kInf, "Control value less than zero!", 0.0},
    {200.0f, "Control value greater than 128.0!", 1.0},
    {kInf, "Control value greater than 128.0!", 1.0},
    {kNaN, "Control value is not a number!", -1.0},
};

class SynControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved = Syn::srate;
    Syn::srate = 44100.0f;
  }
  void TearDown() override { Syn::srate = saved; }
  float saved = 44100.0f;
};

TEST_F(SynControlTest, EveryInstrumentNormalisesClampsAndRefusesByOneRule) {
  for (const Instrument_Row& row : instruments()) {
    for (const Value_Case& c : kValues) {
      SCOPED_TRACE(::testing::Message() << row.name << " " << c.value);
      std::unique_ptr<Instrmnt> instrument;
      // Every value meets the instrument holding a quarter of the range.
      printed_lines([&] {
        instrument.reset(row.make());
        instrument->controlChange(row.number, 32.0f);
      });
      const double before = row.read(*instrument);
      ASSERT_NEAR(before, 0.25, 1e-6);
      const std::vector<std::string> lines =
          printed_lines([&] { instrument->controlChange(row.number, c.value); });
      std::vector<std::string> expected;
      if (c.message) {
        expected.push_back(std::string("[chip](via SYN): ") + row.who + ": " + c.message);
      }
      EXPECT_EQ(lines, expected);
      const double kept = c.norm < 0.0 ? before : (row.adds ? before : 0.0) + c.norm;
      EXPECT_NEAR(row.read(*instrument), kept, 1e-6);
    }
  }
}

}  // namespace
