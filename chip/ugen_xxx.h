// The xxx module: multichannel unit generators.
//
// UGen_Multi is a unit generator with one mono channel node per channel
// (its channel count comes from its class description, the channel nodes
// are made when an object is instantiated); UGen_Stereo is a two-channel
// UGen_Multi whose members `left` and `right` name its channel nodes and
// whose pan law sets the channels' pan factors; DAC (2 in, 2 out) and ADC
// (0 in, 2 out) derive from UGen_Stereo. The machine makes its global `dac`
// and `adc` from the DAC and ADC classes: it sets their descriptions to its
// channel counts, instantiates them and runs stereo_ctor, then multi_ctor.
//
// The classes are declared in the global namespace of a type environment by
// xxx_query_multichannel. The member functions (`chan`, `pan`) exist as
// native functions but are not yet part of the language classes.
//
// TODO(module interface): xxx_query registers these classes (and Pan2, Mix2,
// Gain and the rest of the module) through the import interface, with the
// deprecated lower-case names; xxx_query_multichannel is its seed.
//
// Threads: registration runs on the thread that starts the engine, before
// any script; constructors and member functions run on the machine's thread.
#ifndef CHIP_UGEN_XXX_H
#define CHIP_UGEN_XXX_H

#include "chip/chip_def.h"
#include "chip/chip_dl.h"

struct Chip_Env;
struct Chip_Type;

// Types the machine makes `dac` and `adc` from; null until registered (and
// again after xxx_forget_types).
extern Chip_Type* g_t_dac;
extern Chip_Type* g_t_adc;

// Byte offsets in a UGen_Stereo's data of its members "left", "right" (the
// channel nodes, not counted) and "@pan" (a double); -1 until registered.
extern t_CPWORD stereo_offset_left;
extern t_CPWORD stereo_offset_right;
extern t_CPWORD stereo_offset_pan;

// Declares UGen_Multi, UGen_Stereo, DAC and ADC in env's global namespace
// (records of the environment's global context, gone with it), sets g_t_dac
// and g_t_adc and the member offsets. Also gives UGen and UAna their
// descriptions when they have none yet (pass-through tick, 1 in, 1 out).
// TRUE on success; FALSE (with a message) when the names are taken.
t_CPBOOL xxx_query_multichannel(Chip_Env* env, t_CPUINT srate);
// Clears g_t_dac, g_t_adc and the offsets (for an environment that is shut
// down).
void xxx_forget_types();

// UGen_Multi's constructor: does nothing (the channel nodes come from the
// instantiation).
void multi_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED);
// `UGen chan(int which)`: channel node `which`, or null when out of range.
void multi_cget_chan(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);

// UGen_Stereo's constructor: `left` and `right` name channel nodes 0 and 1,
// or the object itself for a node without channel nodes.
void stereo_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED);
// `float pan(float val)`: clamps val to [-1, 1], stores it and sets the
// channels' pan factors (left 1 - b for b >= 0, right 1 + b for b <= 0,
// otherwise 1); returns the stored value.
void stereo_ctrl_pan(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
// `float pan()`: the stored value.
void stereo_cget_pan(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);

#endif
