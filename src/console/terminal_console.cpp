#include "console/terminal_console.hpp"

#include <algorithm>

#include "console/key_decoder.hpp"
#include "console/line_editor.hpp"
#include "console/terminal_backend.hpp"
#include "console/terminal_session.hpp"

namespace lousa {

namespace {

// How long the start-up cursor query waits for the terminal's answer.
constexpr int kCursorQueryTimeoutMs = 300;

}  // namespace

std::unique_ptr<Console> makeTerminalConsole(int inputFd, int outputFd, bool colours) {
    auto session = std::make_unique<TerminalSession>(inputFd, outputFd);
    if (!session->outputIsTerminal()) return nullptr;
    TerminalSession& sessionRef = *session;
    const bool inputIsTerminal = session->inputIsTerminal();
    if (inputIsTerminal) session->enterProgramMode();

    const TerminalSize size = session->size().value_or(TerminalSize{});
    std::string typedAhead;
    std::optional<CursorPosition> cursor = session->queryCursor(kCursorQueryTimeoutMs, typedAhead);
    if (cursor) {
        cursor->column = std::min(cursor->column, size.columns);
        cursor->row = std::min(cursor->row, size.rows);
    }

    TerminalCharset charset = TerminalCharset::forLocale();
    const bool utf8Keys = inputIsTerminal && charset.isUtf8();
    const std::array<std::uint8_t, 256> typedBytes = charset.typedTable();
    auto backend = std::make_unique<TerminalBackend>(outputFd, std::move(session), std::move(charset), colours);
    TerminalBackend& backendRef = *backend;
    std::unique_ptr<ByteSource> input;
    TerminalByteSource* terminalInput = nullptr;
    if (inputIsTerminal) {
        auto source = std::make_unique<TerminalByteSource>(inputFd, sessionRef, std::move(typedAhead));
        terminalInput = source.get();
        input = std::move(source);
    } else {
        input = std::make_unique<FdByteSource>(inputFd);
    }
    auto console = std::make_unique<Console>(std::move(backend), std::move(input), size.columns, size.rows);
    backendRef.attach(console->screen(), cursor);
    // Without an answer the cursor is taken to be at column 1 of the bottom row.
    const CursorPosition start = cursor.value_or(CursorPosition{1, size.rows});
    console->screen().placeCursor(start.column, start.row);
    // Typed characters become code page 850; piped bytes are taken as they are.
    auto keys = std::make_unique<DecodedKeySource>(console->input(), utf8Keys);
    if (inputIsTerminal && !utf8Keys) keys->setTypedBytes(typedBytes);
    // A flush of the input also drops what the decoder holds of it.
    if (terminalInput != nullptr) {
        terminalInput->setOnDiscard([decoded = keys.get()] { decoded->discardHeld(); });
        terminalInput->setOnRedraw([shown = console.get()] { shown->flushOutput(); });
    }
    console->setKeySource(std::move(keys));
    if (inputIsTerminal) console->setLineSource(std::make_unique<LineEditor>(*console));
    return console;
}

}  // namespace lousa
