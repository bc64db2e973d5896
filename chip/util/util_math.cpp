#include "chip/util/util_math.h"

#include <climits>
#include <cmath>

namespace {

// The decibel factors, from L = 2.302585092994 (ln 10 to twelve decimals),
// as the doubles that 10 / L, 20 / L, L * 0.1 and L * 0.05 give.
const double kPowToDb = 4.3429448190326045;
const double kRmsToDb = 8.685889638065209;
const double kDbToPow = 0.23025850929940003;
const double kDbToRms = 0.11512925464970002;
const double kLogTwo = 0.6931471805599453;

}  // namespace

extern "C" {

double mtof(double note) {
  if (note <= -1500) return 0;
  if (note > 1499) note = 1499;
  return 440.0 * std::pow(2.0, (note - 69.0) / 12.0);
}

double ftom(double freq) {
  if (freq > 0) return 69.0 + 12.0 * std::log(freq / 440.0) / kLogTwo;
  return -1500;
}

double powtodb(double power) {
  if (power <= 0) return 0;
  double db = 100.0 + kPowToDb * std::log(power);
  return db < 0 ? 0 : db;
}

double rmstodb(double amplitude) {
  if (amplitude <= 0) return 0;
  double db = 100.0 + kRmsToDb * std::log(amplitude);
  return db < 0 ? 0 : db;
}

double dbtopow(double db) {
  if (db <= 0) return 0;
  if (db > 870) db = 870;
  return std::exp((db - 100.0) * kDbToPow);
}

double dbtorms(double db) {
  if (db <= 0) return 0;
  if (db > 485) db = 485;
  return std::exp((db - 100.0) * kDbToRms);
}

long ensurepow2(long n) {
  if (n <= 1) return 0;
  unsigned long rest = static_cast<unsigned long>(n - 1);
  unsigned long top = 1;
  while (rest >>= 1) top <<= 1;
  // Doubling the top bit must still fit in a long.
  if (top > static_cast<unsigned long>(LONG_MAX) / 2) return 0;
  return static_cast<long>(top * 2);
}

}
