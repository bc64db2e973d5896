// The language class JetTabl: the jet table (chip/syn/syn_tables.h) applied to
// its input sample by sample. It has no members besides its hidden one.
#include "chip/syn/syn_tables.h"
#include "chip/syn/ugen_syn.h"

t_CPWORD JetTabl_offset_data = FRAME_NO_OFFSET;

SYN_CLASS(JetTabl) = {
    "JetTabl", "UGen", "@JetTabl_data", &JetTabl_offset_data,
    [](Chip_Object*) -> Frame_Obj* { return new JetTabl; },
    [](Frame_Slot& s, SAMPLE in) { return s.as<JetTabl>().tick(in); }, frame_pmsg_true, nullptr,
    0};
