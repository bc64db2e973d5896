// The Open Sound Control module "opsc": the script classes OscSend, OscRecv
// and OscEvent over chip/lib/util_opsc.h.
//
// Each object keeps its native record in one hidden member: "@OscSend_data"
// (an OSC_Transmitter), "@OscRecv_data" (an OSC_Receiver), "@OscEvent_Data"
// (an OSC_Address_Space whose event is the object itself). Constructors make
// the record, destructors free it and clear the member; a destroyed
// receiver stops listening and its spaces forget it, a destroyed event's
// space leaves its receiver.
//
// OscRecv.event and OscRecv.address make a new OscEvent, set the address
// and tags of the space its constructor made, add the space to the receiver and return
// the event (unreferenced: the caller takes it). A space belongs to one
// receiver at a time.
//
// Results: OscRecv.listen answers 1 when the receiver now listens and 0
// when it does not (a port outside 0..65535, a port that cannot be bound);
// every other function of OscSend and OscRecv answers 0 (addString the
// null string). OscEvent's getters answer 0, 0.0 or "" when there is
// nothing to read (the reason is logged).
//
// Threads: registration runs on the thread that starts the engine; every
// routine on the machine's thread. Messages arrive on listener threads and
// wake waiting shreds through the event's broadcast request.
#ifndef CHIP_ULIB_OPSC_H
#define CHIP_ULIB_OPSC_H

#include "chip/util/chip_def.h"
#include "chip/vm/chip_dl.h"

struct Chip_Type;

extern t_CPWORD osc_send_offset_data;
extern t_CPWORD osc_recv_offset_data;
extern t_CPWORD osc_address_offset_data;
// The type OscEvent, for events made by native code.
extern Chip_Type* osc_addr_type_ptr;

// The module's query; FALSE when a class cannot be imported (with
// "class import error!" when it could be begun).
t_CPBOOL opensoundcontrol_query(Chip_DL_Query* QUERY);

#endif
