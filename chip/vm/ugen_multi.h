// The multichannel unit generators the machine is built on: UGen_Multi,
// UGen_Stereo and its kinds DAC, ADC, Pan2 and Mix2, and Gain.
//
// UGen_Multi is a unit generator with one mono channel node per channel:
// its channel count comes from its class description, and the runtime makes
// the channel nodes when an object is instantiated. `chan(i)` names channel
// node i. UGen_Stereo is a two-channel UGen_Multi whose members `left` and
// `right` name its channel nodes (without holding them: the object holds its
// channels) and whose `pan` sets the channels' pan factors by a linear law:
// b = val clamped to [-1, 1]; left factor 1 for b < 0, else 1 - b; right
// factor 1 for b > 0, else 1 + b; so the centre leaves both at full level.
// DAC (2 in, 2 out), ADC (0 in, 2 out), Pan2 and Mix2 (2 in, 2 out) are
// UGen_Stereo classes without behaviour of their own: a mono source linked
// into Pan2 feeds both channels, each scaled by its pan factor; Mix2's node
// output, like that of every multichannel node, is the mean of its channels.
// Gain is a plain UGen (its input times its gain).
//
// These classes carry no native object: their members act on the language
// object and its graph node, so they are bound by their own functions rather
// than through a state record. The xxx module registers them first of its
// classes (multi_import_classes); the machine makes its `dac` and `adc` from
// the DAC and ADC types (g_t_dac, g_t_adc in the type environment) and runs
// stereo_ctor, then multi_ctor on each.
//
// Threads: registration on the thread that starts the engine; the rest on
// the machine's thread.
#ifndef CHIP_VM_UGEN_MULTI_H
#define CHIP_VM_UGEN_MULTI_H

#include "chip/util/chip_def.h"
#include "chip/vm/chip_dl.h"

struct Chip_Env;

// Byte offsets in a UGen_Stereo's data of its members "left" and "right"
// (references to the channel nodes, not counted) and "@pan" (a double); -1
// until registered.
extern t_CPWORD stereo_offset_left;
extern t_CPWORD stereo_offset_right;
extern t_CPWORD stereo_offset_pan;

// Registers UGen_Multi, UGen_Stereo, DAC, ADC, Pan2, Mix2 and Gain in env's
// global namespace and sets g_t_dac, g_t_adc and the offsets. FALSE (the
// import interface printed why) when a class cannot be registered.
t_CPBOOL multi_import_classes(Chip_Env* env);
// Clears g_t_dac, g_t_adc and the offsets (for an environment that is shut
// down).
void multi_forget_types();

// UGen_Multi's constructor: does nothing (the channel nodes come from the
// instantiation).
void multi_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED);
// `UGen chan(int which)`: channel node `which`, or null when `which` is
// negative or not below the channel count; no reference taken.
void multi_cget_chan(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);

// UGen_Stereo's constructor: `left` and `right` name channel nodes 0 and 1,
// or the object itself (twice) for a node without channel nodes. "@pan"
// keeps its 0.0.
void stereo_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED);
// `float pan(float val)`: the linear pan law above; returns the stored b.
void stereo_ctrl_pan(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
// `float pan()`: the stored value.
void stereo_cget_pan(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);

#endif
