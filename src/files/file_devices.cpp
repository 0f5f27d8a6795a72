#include "files/file_devices.hpp"

#include "console/console.hpp"

namespace lousa {

namespace {

class DiscardDevice : public FileDevice {
public:
    std::size_t read(char*, std::size_t) override { return 0; }
    bool write(std::string_view) override { return true; }
};

class ConsoleDevice : public FileDevice {
public:
    explicit ConsoleDevice(Console& console) : console_(console) {}

    std::size_t read(char* into, std::size_t size) override {
        // What was written is on the screen before the program waits.
        console_.flushOutput();
        std::size_t count = 0;
        while (count < size) {
            const int c = console_.input().get();
            if (c == InputReader::kEnd) break;
            into[count++] = static_cast<char>(c);
            if (c == '\n') break;
        }
        return count;
    }

    bool write(std::string_view bytes) override {
        // The console writes a text up to its first 0 byte; a 0 the program
        // writes is dropped, the rest still shown.
        std::size_t start = 0;
        while (start < bytes.size()) {
            const std::size_t nul = bytes.find('\0', start);
            const std::size_t end = nul == std::string_view::npos ? bytes.size() : nul;
            if (end > start) console_.write(bytes.substr(start, end - start));
            start = end + 1;
        }
        return true;
    }

private:
    Console& console_;
};

}  // namespace

std::unique_ptr<FileDevice> consoleDevice(Console* console) {
    if (console == nullptr) return discardDevice();
    return std::make_unique<ConsoleDevice>(*console);
}

std::unique_ptr<FileDevice> discardDevice() { return std::make_unique<DiscardDevice>(); }

}  // namespace lousa
