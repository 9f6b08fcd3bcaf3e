// One position of the service bench as a small state machine: what it does next follows from
// what it has just seen, so the loop that drives it (Station.cpp) holds no decisions of its
// own and a test can walk every transition without a port, a thread or a clock.
#pragma once

enum class TPositionState {
    Waiting, // the port is missing or cannot be opened: look again shortly
    Probing, // the port is open: wake-up and identify at an interval, nothing else
    Writing, // a bootloader answered: the whole flash runs, then the unit's record
    Present, // the unit has its record: nothing more is done until it has gone
};

enum class TPositionEvent {
    PortMissing,   // the port does not exist (also: a name that matches no port now)
    PortUnusable,  // it exists but cannot be opened (busy, denied, two ports for one name)
    PortOpened,    // opened for probing
    Answered,      // a probe was answered by a bootloader (identify reply code 82)
    Heard,         // a probe heard bytes, but no such answer (late, partial, garbled)
    Silent,        // a probe heard nothing at all
    PortLost,      // the port failed while open: its device has gone (the adapter was pulled)
    DeviceChanged, // the port now leads to another device than the recorded unit's
    UnitRecorded,  // the flash ended and its record was written
};

class TPositionMachine {
public:
    // Silent probes in a row after which a unit that had its record counts as gone although
    // its port stayed.  Probes are a second apart, so this is some seconds of silence: a
    // lost probe or a slow unit is no departure, or a unit left in its bootloader could be
    // flashed twice.  A probe that heard anything at all is no silence.
    static constexpr int DepartureSilences = 4;

    TPositionState State() const { return State_; }
    // Applies the event; true when the state changed.
    bool On(TPositionEvent event);

private:
    TPositionState State_ = TPositionState::Waiting;
    int Silences = 0;
};

// "waiting", "probing", "writing", "present": the names of the JSON events.
const char* PositionStateName(TPositionState state);
