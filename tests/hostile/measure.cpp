// Runs a command and reports how it ended and what it cost, for the hostile
// program tests: peak resident memory (KiB), elapsed seconds, and the exit
// status or the signal that ended it. After the time limit the command gets
// SIGTERM (and SIGKILL two seconds later), so nothing can hang the suite.
//
// Usage: hostile_measure LIMIT_SECONDS REPORT_FILE COMMAND [ARG...]
// The report is one line: "<peak KiB> <seconds> exit <n>" or "... signal <n>".
// Standard input, output and error pass through to the command.

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: hostile_measure LIMIT_SECONDS REPORT_FILE COMMAND [ARG...]\n");
        return 2;
    }
    const double limit = std::atof(argv[1]);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child < 0) return 2;
    if (child == 0) {
        execvp(argv[3], argv + 3);
        std::perror(argv[3]);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    bool termSent = false;
    for (;;) {
        const pid_t done = wait4(child, &status, WNOHANG, &usage);
        if (done == child) break;
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!termSent && elapsed > limit) {
            kill(child, SIGTERM);
            termSent = true;
        } else if (termSent && elapsed > limit + 2) {
            kill(child, SIGKILL);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    FILE* report = std::fopen(argv[2], "w");
    if (report == nullptr) return 2;
    if (WIFSIGNALED(status))
        std::fprintf(report, "%ld %.3f signal %d\n", usage.ru_maxrss, elapsed, WTERMSIG(status));
    else
        std::fprintf(report, "%ld %.3f exit %d\n", usage.ru_maxrss, elapsed, WEXITSTATUS(status));
    std::fclose(report);
    return 0;
}
