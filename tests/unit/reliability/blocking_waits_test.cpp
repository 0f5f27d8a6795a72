// Every wait ends at the first stop signal: reads and writes on FIFOs, an
// endless device, console output into a pipe nobody reads, opening a FIFO
// nobody opens; and a second signal ends the process at once even when a
// file's buffer is bound for a full FIFO.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <thread>

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include "console/console.hpp"
#include "files/file_stream.hpp"
#include "files/stream_scanning.hpp"
#include "loader/stop_signals.hpp"
#include "storage/lista_arquivos.hpp"
#include "unit/files/temp_dir.hpp"

namespace lousa {
namespace {

// A FIFO in a scratch directory, with the ends the test holds itself.
struct Fifo {
    Fifo() { EXPECT_EQ(mkfifo(path.c_str(), 0600), 0); }
    ~Fifo() {
        for (const int fd : held) ::close(fd);
    }
    int hold(int flags) {
        held.push_back(::open(path.c_str(), flags));
        return held.back();
    }
    test::TempDir dir;
    std::string path = dir.file("fifo");
    std::vector<int> held;
};

std::unique_ptr<FluxoArquivo> openStream(const std::string& path, const char* mode) {
    int error = 0;
    auto stream = FluxoArquivo::open(path, mode, error);
    EXPECT_NE(stream, nullptr) << path << " errno " << error;
    return stream;
}

struct BlockingWait {
    const char* what;
    int signal;
    std::function<void()> wait;  // blocks for ever unless a stop ends it
};

std::vector<BlockingWait> blockingWaits() {
    return {
        {"a file write into a FIFO nobody reads", SIGTERM,
         [] {
             Fifo fifo;
             fifo.hold(O_RDONLY | O_NONBLOCK);
             auto stream = openStream(fifo.path, "wb");
             if (!stream) return;
             stream->putText(std::string(1 << 20, 'x'));
             EXPECT_FALSE(stream->flush()) << "bytes were left unwritten";
         }},
        {"a file read from a FIFO nobody writes", SIGINT,
         [] {
             Fifo fifo;
             fifo.hold(O_RDWR);
             auto stream = openStream(fifo.path, "rb");
             if (stream) {
                 EXPECT_EQ(stream->getChar(), FluxoArquivo::kEnd);
             }
         }},
        {"a word read from an endless device", SIGXCPU,
         [] {
             auto stream = openStream("/dev/zero", "rb");
             std::string word;
             if (stream) scanWord(*stream, word);
         }},
        {"opening a FIFO nobody opens", SIGUSR1,
         [] {
             Fifo fifo;
             int error = 0;
             EXPECT_EQ(FluxoArquivo::open(fifo.path, "w", error), nullptr);
         }},
        {"console output into a pipe nobody reads", SIGALRM,
         [] {
             int fds[2];
             ASSERT_EQ(pipe(fds), 0);
             {
                 const std::unique_ptr<Console> console = makePlainConsole(fds[0], fds[1]);
                 console->write(std::string(1 << 20, 'y'));
                 console->flushOutput();
             }
             ::close(fds[0]);
             ::close(fds[1]);
         }},
    };
}

class BlockingWaits : public ::testing::Test {
protected:
    void SetUp() override { installStopSignals(); }
    void TearDown() override {
        uninstallStopSignals();
        setFileFlush(nullptr);
    }
};

TEST_F(BlockingWaits, EndAtTheFirstStopSignal) {
    for (const BlockingWait& c : blockingWaits()) {
        uninstallStopSignals();
        installStopSignals();
        const pthread_t self = pthread_self();
        std::thread sender([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            pthread_kill(self, c.signal);
        });
        const auto start = std::chrono::steady_clock::now();
        c.wait();
        sender.join();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3)) << c.what;
        EXPECT_EQ(pendingStopSignal(), c.signal) << c.what;
    }
}

using BlockingWaitsDeathTest = BlockingWaits;

// The second signal's flush must not wait for a FIFO that nobody empties.
void secondSignalWithAFileBoundForAFullFifo(const std::string& path) {
    const int both = ::open(path.c_str(), O_RDWR | O_NONBLOCK);
    const std::string chunk(4096, 'z');
    while (::write(both, chunk.data(), chunk.size()) > 0) {
    }
    int error = 0;
    auto stream = FluxoArquivo::open(path, "wb", error);
    if (!stream) _exit(3);
    stream->putText("waiting in the buffer");
    setFileFlush(&ListaArquivos::flushAll);
    raise(SIGTERM);
    raise(SIGTERM);
    _exit(0);
}

TEST_F(BlockingWaitsDeathTest, SecondSignalEndsAtOnceWhateverTheFilesHold) {
    Fifo fifo;
    EXPECT_EXIT(secondSignalWithAFileBoundForAFullFifo(fifo.path), ::testing::KilledBySignal(SIGTERM), "");
}

}  // namespace
}  // namespace lousa
