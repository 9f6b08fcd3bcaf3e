#include "StationPosition.h"

bool TPositionMachine::On(TPositionEvent event) {
    const TPositionState before = State_;
    switch (event) {
    case TPositionEvent::PortMissing:
    case TPositionEvent::PortLost:
    case TPositionEvent::DeviceChanged:
        // Gone with its port (a port that fails while open has lost its device): whoever is
        // connected next is a new unit, also when its port comes back under the same name.
        if (State_ != TPositionState::Writing) {
            State_ = TPositionState::Waiting;
        }
        break;
    case TPositionEvent::PortUnusable:
        // A unit with its record stays recorded until its port has gone or it stops
        // answering: a port that only fails to open says neither.
        if (State_ == TPositionState::Probing) {
            State_ = TPositionState::Waiting;
        }
        break;
    case TPositionEvent::PortOpened:
        if (State_ == TPositionState::Waiting) {
            State_ = TPositionState::Probing;
        }
        break;
    case TPositionEvent::Answered:
        if (State_ == TPositionState::Probing) {
            State_ = TPositionState::Writing;
        }
        Silences = 0;
        break;
    case TPositionEvent::Heard:
        Silences = 0;
        break;
    case TPositionEvent::Silent:
        if (State_ == TPositionState::Present && ++Silences >= DepartureSilences) {
            State_ = TPositionState::Probing;
        }
        break;
    case TPositionEvent::UnitRecorded:
        if (State_ == TPositionState::Writing) {
            State_ = TPositionState::Present;
            Silences = 0;
        }
        break;
    }
    if (State_ != TPositionState::Present) {
        Silences = 0;
    }
    return State_ != before;
}

const char* PositionStateName(TPositionState state) {
    switch (state) {
    case TPositionState::Waiting:
        return "waiting";
    case TPositionState::Probing:
        return "probing";
    case TPositionState::Writing:
        return "writing";
    case TPositionState::Present:
        break;
    }
    return "present";
}
