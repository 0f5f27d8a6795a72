#pragma once
// A backend shows the screen model on the process's standard output. It is
// the model's observer (it hears every cell, scroll, cursor and bell change in
// order) and it also receives the bytes the program writes, for a backend that
// passes output through as a byte stream instead of drawing the screen.

#include <string_view>

#include "console/screen_model.hpp"

namespace lousa {

class Backend : public ScreenObserver {
public:
    // The bytes a program writes to the console, handed over before the model
    // places them.
    virtual void programText(std::string_view /*bytes*/) {}
    // One console operation is complete: what it changed must be visible
    // before the next instruction runs (where the backend shows it live).
    virtual void present() {}
    // Everything held back goes out now: before a wait for input, a delay and
    // the end of the run.
    virtual void flush() {}
    // The run is over: everything is flushed and the output device is left as
    // it was found. Called once, before writeFinalMessage.
    virtual void finish() { flush(); }
    // The run-time error text (Latin-1 bytes), after all console output.
    virtual void writeFinalMessage(std::string_view latin1Text) = 0;
};

}  // namespace lousa
