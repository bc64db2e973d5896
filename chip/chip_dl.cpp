// Module interface: the description of a unit-generator class.
#include "chip/chip_dl.h"

Chip_UGen_Info::Chip_UGen_Info()
    : tick(nullptr),
      pmsg(nullptr),
      num_ins(1),
      num_outs(1),
      tock(nullptr),
      num_ins_ana(1),
      num_outs_ana(1) {}

Chip_UGen_Info::~Chip_UGen_Info() = default;
