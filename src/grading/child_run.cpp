#include "grading/child_run.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <poll.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "console/console.hpp"
#include "console/key_decoder.hpp"
#include "console/plain_backend.hpp"
#include "grading/child_sandbox.hpp"
#include "vm/interpretador.hpp"
#include "vm/latin1.hpp"

namespace lousa::grading {

namespace {

using Clock = std::chrono::steady_clock;

// File descriptor numbers inside the child.
constexpr int kFactsFd = 3;
// What the transcript keeps at most; the rest is cut with a note.
constexpr std::size_t kTranscriptLimit = 64 * 1024;
// What the parent accepts on the facts pipe (a screen fits).
constexpr std::size_t kFactsLimit = 1024 * 1024;

// ---------------------------------------------------------------- the child

// The transcript lives in a page shared with the parent, mapped before the
// fork: the child appends to it as the program writes and reads, and the
// parent reads it after the child has ended, however it ended. A run killed
// at a limit keeps what it showed up to the kill.
class SharedTranscript {
public:
    SharedTranscript() {
        void* page = ::mmap(nullptr, sizeof(Page), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (page == MAP_FAILED) throw std::runtime_error(std::string("mmap: ") + std::strerror(errno));
        page_ = new (page) Page;
    }
    ~SharedTranscript() { ::munmap(page_, sizeof(Page)); }
    SharedTranscript(const SharedTranscript&) = delete;
    SharedTranscript& operator=(const SharedTranscript&) = delete;

    // In the child. The length is published after the bytes, so a kill
    // between the two loses the last piece, never shows garbage.
    void add(std::string_view bytes) {
        const std::size_t length = page_->length.load(std::memory_order_relaxed);
        const std::size_t room = kTranscriptLimit - length;
        const std::size_t n = std::min(room, bytes.size());
        std::memcpy(page_->text + length, bytes.data(), n);
        page_->length.store(static_cast<std::uint32_t>(length + n), std::memory_order_release);
        if (bytes.size() > room) page_->cut.store(true, std::memory_order_release);
    }
    // In the parent, once the child has ended.
    [[nodiscard]] std::string text() const {
        return {page_->text, std::min<std::size_t>(page_->length.load(std::memory_order_acquire), kTranscriptLimit)};
    }
    [[nodiscard]] bool cut() const { return page_->cut.load(std::memory_order_acquire); }

private:
    struct Page {
        std::atomic<std::uint32_t> length{0};
        std::atomic<bool> cut{false};
        char text[kTranscriptLimit];
    };
    static_assert(std::atomic<std::uint32_t>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);
    Page* page_;
};

// Standard input handed to the reader one line at a time, so that each line
// enters the transcript at the moment the program first needs it.
class LineByLineSource : public ByteSource {
public:
    LineByLineSource(int fd, SharedTranscript& transcript) : device_(fd), transcript_(transcript) {}

    std::size_t read(char* buffer, std::size_t capacity) override {
        if (position_ >= held_.size()) {
            held_.resize(64 * 1024);
            const std::size_t n = device_.read(held_.data(), held_.size());
            held_.resize(n);
            position_ = 0;
            if (n == 0) {
                readPastEnd = true;
                return 0;
            }
        }
        const std::size_t lineEnd = held_.find('\n', position_);
        const std::size_t available = (lineEnd == std::string::npos ? held_.size() : lineEnd + 1) - position_;
        const std::size_t n = std::min(available, capacity);
        std::memcpy(buffer, held_.data() + position_, n);
        transcript_.add(std::string_view(held_).substr(position_, n));
        position_ += n;
        return n;
    }
    bool waitReadable(int timeoutMs) override { return position_ < held_.size() || device_.waitReadable(timeoutMs); }

    bool readPastEnd = false;

private:
    FdByteSource device_;
    SharedTranscript& transcript_;
    std::string held_;
    std::size_t position_ = 0;
};

// Plain output that also feeds the transcript.
class TranscriptBackend : public PlainBackend {
public:
    TranscriptBackend(int fd, SharedTranscript& transcript) : PlainBackend(fd), transcript_(transcript) {}
    void programText(std::string_view bytes) override {
        transcript_.add(bytes);
        PlainBackend::programText(bytes);
    }

private:
    SharedTranscript& transcript_;
};

void writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

void screenFacts(const ScreenModel& screen, nlohmann::json& facts) {
    std::string text;
    std::string attributes;
    static constexpr char kHex[] = "0123456789abcdef";
    for (int row = 1; row <= screen.rows(); ++row) {
        for (int column = 1; column <= screen.columns(); ++column) {
            const Cell& cell = screen.cellAt(column, row);
            text += static_cast<char>(cell.character);
            attributes += kHex[cell.attribute >> 4];
            attributes += kHex[cell.attribute & 15];
        }
        text += '\n';
    }
    facts["screen_text"] = utf8FromLatin1(text);
    facts["screen_attributes"] = attributes;
}

[[noreturn]] void outOfMemory() { ::_exit(kOutOfMemoryStatus); }

[[noreturn]] void failInChild(const std::string& why) {
    nlohmann::json facts{{"sandbox_problem", why}};
    writeAll(kFactsFd, facts.dump());
    ::_exit(kSandboxFailedStatus);
}

void resetSignals() {
    for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXFSZ, SIGXCPU, SIGCHLD, SIGTSTP, SIGWINCH})
        std::signal(s, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

[[noreturn]] void childMain(const RunRequest& request, int outputFd, int factsFd, SharedTranscript& transcript) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    resetSignals();
    if (::dup2(factsFd, kFactsFd) < 0) ::_exit(kSandboxFailedStatus);
    const int input = ::open(request.input.c_str(), O_RDONLY | O_CLOEXEC);
    if (input < 0) failInChild("cannot open the test's input " + request.input.string());
    const int nullFd = ::open("/dev/null", O_WRONLY);
    if (::dup2(input, 0) < 0 || ::dup2(outputFd, 1) < 0 || nullFd < 0 || ::dup2(nullFd, 2) < 0)
        failInChild("cannot set up standard input and output");
    ::close_range(kFactsFd + 1, ~0U, 0);
    if (::chdir(request.box.c_str()) != 0) failInChild("cannot enter the box " + request.box.string());
    try {
        confineChild(request);
    } catch (const std::exception& e) {
        failInChild(e.what());
    }
    std::set_new_handler(outOfMemory);

    auto source = std::make_unique<LineByLineSource>(0, transcript);
    LineByLineSource& sourceRef = *source;
    nlohmann::json facts;
    {
        Console console(std::make_unique<TranscriptBackend>(1, transcript), std::move(source));
        console.setKeySource(std::make_unique<DecodedKeySource>(console.input(), false));
        std::string directory = request.box.string();
        if (!directory.ends_with('/')) directory += '/';
        Interpretador machine(*request.code, directory, &console);
        machine.randomSeed = request.seed;
        machine.memoryAccount.ceiling = request.limits.memoryBytes;
        if (!machine.fileNames.confineTo(request.box.string())) failInChild("the box is not a directory");
        machine.run();
        console.finish();
        if (machine.runtimeErrorRaised) {
            facts["error_text"] = utf8FromLatin1(machine.runtimeErrorText);
            facts["error_line"] = machine.currentLine;
        }
        if (request.keepScreen) screenFacts(console.screen(), facts);
        facts["read_past_end"] = sourceRef.readPastEnd;  // the console owns the source
    }  // the machine's files are flushed and closed here
    writeAll(kFactsFd, facts.dump());
    ::_exit(0);
}

// ---------------------------------------------------------------- the parent

struct ActiveRun {
    std::size_t index = 0;
    pid_t pid = -1;
    int outputFd = -1;
    int factsFd = -1;
    Clock::time_point started;
    Clock::time_point deadline;
    std::uint64_t outputLimit = 0;
    double processorLimit = 0;
    RunOutcome outcome;
    std::string facts;
    std::unique_ptr<SharedTranscript> transcript = std::make_unique<SharedTranscript>();
    bool killedForOutput = false;
    bool killedForWall = false;
    bool killedForProcessor = false;
    [[nodiscard]] bool killed() const { return killedForOutput || killedForWall || killedForProcessor; }
};

// The processor time a running child has used so far, from /proc; -1 when
// it cannot be read.
double processorSecondsSoFar(pid_t pid) {
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (!file) return -1;
    char buffer[1024];
    const std::size_t n = std::fread(buffer, 1, sizeof buffer - 1, file);
    std::fclose(file);
    buffer[n] = 0;
    // The fields after the command name (which may hold spaces) start after its ')'.
    const char* p = std::strrchr(buffer, ')');
    if (!p) return -1;
    unsigned long long user = 0, system = 0;
    // state ppid pgrp session tty tpgid flags minflt cminflt majflt cmajflt utime stime
    if (std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &user, &system) != 2) return -1;
    static const long ticks = ::sysconf(_SC_CLK_TCK);
    return static_cast<double>(user + system) / static_cast<double>(ticks > 0 ? ticks : 100);
}

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

void makePipe(int fds[2]) {
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
}

ActiveRun startRun(std::size_t index, const RunRequest& request) {
    ActiveRun run;  // its transcript page first: nothing to close if that fails
    int output[2];
    int facts[2];
    makePipe(output);
    try {
        makePipe(facts);
    } catch (...) {
        ::close(output[0]);
        ::close(output[1]);
        throw;
    }
    run.index = index;
    run.started = Clock::now();
    run.deadline = run.started + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(request.limits.wallSeconds));
    run.outputLimit = request.limits.outputBytes;
    run.processorLimit = request.limits.processorSeconds;
    run.pid = ::fork();
    if (run.pid == 0) {
        ::close(output[0]);
        ::close(facts[0]);
        childMain(request, output[1], facts[1], *run.transcript);
    }
    ::close(output[1]);
    ::close(facts[1]);
    if (run.pid < 0) {
        ::close(output[0]);
        ::close(facts[0]);
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    }
    run.outputFd = output[0];
    run.factsFd = facts[0];
    return run;
}

void killRun(ActiveRun& run) {
    ::kill(run.pid, SIGKILL);
    closeFd(run.outputFd);
}

// Reads what is there; false at the end of the pipe.
bool drain(int fd, std::string& into, std::size_t limit, bool& over) {
    char buffer[65536];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) return errno == EINTR || errno == EAGAIN;
    if (n == 0) return false;
    const std::size_t room = limit > into.size() ? limit - into.size() : 0;
    into.append(buffer, std::min(room, static_cast<std::size_t>(n)));
    if (static_cast<std::size_t>(n) > room) over = true;
    return true;
}

void parseFacts(const std::string& text, RunFacts& facts) {
    if (text.empty()) return;
    const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_object()) return;
    facts.received = true;
    facts.errorText = latin1(j.value("error_text", std::string()));
    facts.errorLine = j.value("error_line", 0);
    facts.readPastEnd = j.value("read_past_end", false);
    facts.screenText = latin1(j.value("screen_text", std::string()));
    facts.screenAttributes = j.value("screen_attributes", std::string());
    facts.problem = j.value("sandbox_problem", std::string());
}

void classifyEnd(ActiveRun& run, int status, const rusage& usage) {
    RunOutcome& o = run.outcome;
    o.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    o.maxResidentKiB = usage.ru_maxrss;
    o.wallSeconds = std::chrono::duration<double>(Clock::now() - run.started).count();
    o.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    parseFacts(run.facts, o.facts);
    o.facts.transcript = run.transcript->text();
    o.facts.transcriptCut = run.transcript->cut();
    if (run.killedForOutput) o.end = RunEnd::OutputLimit;
    else if (o.signal == SIGXFSZ) o.end = RunEnd::FileLimit;
    else if (run.killedForProcessor || o.signal == SIGXCPU || o.cpuSeconds > run.processorLimit)
        o.end = RunEnd::ProcessorLimit;
    else if (run.killedForWall) o.end = RunEnd::WallLimit;
    else if (WIFEXITED(status) && WEXITSTATUS(status) == kOutOfMemoryStatus) o.end = RunEnd::OutOfMemory;
    else if (WIFEXITED(status) && WEXITSTATUS(status) == kSandboxFailedStatus) o.end = RunEnd::SandboxFailed;
    else if (o.signal != 0 || !o.facts.received) o.end = RunEnd::Crashed;
    else o.end = RunEnd::Finished;
}

}  // namespace

void RunPool::run(std::size_t count, const std::function<RunRequest(std::size_t)>& prepare,
                  const std::function<void(std::size_t, RunOutcome)>& done) {
    std::vector<ActiveRun> active;
    std::size_t next = 0;
    auto cleanup = [&] {
        for (ActiveRun& r : active) {
            ::kill(r.pid, SIGKILL);
            closeFd(r.outputFd);
            closeFd(r.factsFd);
            ::waitpid(r.pid, nullptr, 0);
        }
    };
    try {
        while (next < count || !active.empty()) {
            while (active.size() < parallel_ && next < count) {
                const RunRequest request = prepare(next);
                active.push_back(startRun(next, request));
                ++next;
            }
            std::vector<pollfd> fds;
            std::vector<std::pair<std::size_t, bool>> owners;  // run, is the output pipe
            // Short enough to see a processor limit passed within a tick or two.
            auto timeout = std::chrono::milliseconds(20);
            const Clock::time_point now = Clock::now();
            for (std::size_t i = 0; i < active.size(); ++i) {
                ActiveRun& r = active[i];
                if (r.outputFd >= 0) {
                    fds.push_back({r.outputFd, POLLIN, 0});
                    owners.emplace_back(i, true);
                }
                if (r.factsFd >= 0) {
                    fds.push_back({r.factsFd, POLLIN, 0});
                    owners.emplace_back(i, false);
                }
                if (!r.killed()) {
                    const auto left = std::chrono::ceil<std::chrono::milliseconds>(r.deadline - now);
                    timeout = std::max(std::chrono::milliseconds(0), std::min(timeout, left));
                }
            }
            const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(timeout.count()));
            if (ready < 0 && errno != EINTR) throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
            for (std::size_t k = 0; ready > 0 && k < fds.size(); ++k) {
                if (fds[k].revents == 0) continue;
                ActiveRun& r = active[owners[k].first];
                if (owners[k].second) {
                    if (r.outputFd < 0) continue;
                    bool over = false;
                    if (!drain(r.outputFd, r.outcome.output, r.outputLimit, over)) closeFd(r.outputFd);
                    if (over) {
                        r.killedForOutput = true;
                        killRun(r);
                    }
                } else {
                    bool over = false;
                    if (!drain(r.factsFd, r.facts, kFactsLimit, over)) closeFd(r.factsFd);
                }
            }
            const Clock::time_point after = Clock::now();
            for (ActiveRun& r : active) {
                if (r.killed()) continue;
                if (after >= r.deadline) {
                    r.killedForWall = true;
                    killRun(r);
                } else if (std::chrono::duration<double>(after - r.started).count() > r.processorLimit &&
                           processorSecondsSoFar(r.pid) > r.processorLimit) {
                    // The kernel's limit counts whole seconds; this one is exact.
                    r.killedForProcessor = true;
                    killRun(r);
                }
            }
            for (std::size_t i = 0; i < active.size();) {
                ActiveRun& r = active[i];
                if (r.outputFd >= 0 || r.factsFd >= 0) {
                    ++i;
                    continue;
                }
                int status = 0;
                rusage usage{};
                while (::wait4(r.pid, &status, 0, &usage) < 0 && errno == EINTR) {
                }
                classifyEnd(r, status, usage);
                const std::size_t index = r.index;
                RunOutcome outcome = std::move(r.outcome);
                active.erase(active.begin() + static_cast<std::ptrdiff_t>(i));
                done(index, std::move(outcome));
            }
        }
    } catch (...) {
        cleanup();
        throw;
    }
}

}  // namespace lousa::grading
