#pragma once
// The devices a program's file name can name instead of a file: the console
// (the name CON, or a path that is a terminal) and the discarding device
// (the name NUL).

#include <memory>

#include "files/file_stream.hpp"

namespace lousa {

class Console;

// Writes go through the console, as the program's console output does (on a
// terminal they are cells of the screen, never control sequences); reads come
// from the console's input reader, a line at a time. Without a console it
// discards and reads as empty.
std::unique_ptr<FileDevice> consoleDevice(Console* console);

// Discards what is written; reads as empty.
std::unique_ptr<FileDevice> discardDevice();

}  // namespace lousa
