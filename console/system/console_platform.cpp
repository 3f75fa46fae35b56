#include "console/system/console_platform.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "platform/plain_text.h"
#include "platform/seams.h"

namespace {

ConsoleAnswers gAnswers = ConsoleAnswers::AskStdin;
std::FILE* gOut = stdout;
std::mutex gLock;
const auto gStart = std::chrono::steady_clock::now();
volatile sig_atomic_t gInterrupts = 0;

void CountInterrupt(int) {
    if (gInterrupts < 100) gInterrupts = gInterrupts + 1;
}

std::string Narrow(const wchar_t* text) {
    size_t count = 0;
    while (text[count]) ++count;
    return AsciiText(text, count);
}

int AskStdin() {
    std::fprintf(gOut, "    answer [y/n]? ");
    std::fflush(gOut);
    const int answer = ConsoleReadYes() ? ANSWER_YES : ANSWER_NO;
    std::fprintf(gOut, "%s\n", answer == ANSWER_YES ? "yes" : "no");
    return answer;
}

int ConsoleMessageBox(const wchar_t* text, const wchar_t* caption, unsigned style) {
    const bool question = (style & 0x0F) == BOX_YESNO;
    std::fprintf(gOut, "box   \"%s\" caption \"%s\" style 0x%02X%s\n", Narrow(text).c_str(), Narrow(caption).c_str(),
                 style, question ? " (Yes/No)" : "");
    std::fflush(gOut);
    if (!question) return ANSWER_OK;
    int answer = ANSWER_NO;
    switch (gAnswers) {
        case ConsoleAnswers::Yes: answer = ANSWER_YES; break;
        case ConsoleAnswers::No: answer = ANSWER_NO; break;
        case ConsoleAnswers::AskStdin: return AskStdin();
    }
    std::fprintf(gOut, "    answered %s\n", answer == ANSWER_YES ? "yes" : "no");
    return answer;
}

void ConsoleDrawText(int x, int y, const wchar_t* text, int count) {
    std::fprintf(gOut, "text  (%d,%d) \"%s\"\n", x, y, AsciiText(text, static_cast<size_t>(count)).c_str());
    std::fflush(gOut);
}

uint32_t ConsoleTickCount() {
    const auto elapsed = std::chrono::steady_clock::now() - gStart;
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

void ConsoleSleep(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void LockNothing() {}
void LockEnter() { gLock.lock(); }
void LockLeave() { gLock.unlock(); }

}  // namespace

void ConsoleStandardStreamsStart() {
    // A file-size limit makes a write fail, reported, from the first write
    // on (--show-log's output too), rather than end the program.
    signal(SIGXFSZ, SIG_IGN);
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free descriptor: this one, since those below it are open now.
        const int null = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (null < 0 || null == fd) continue;
        dup2(null, fd);
        close(null);
    }
}

void ConsoleSystemInstall() {
    gClock = ClockSeam{.tickCount = ConsoleTickCount, .sleep = ConsoleSleep};
    gUsbLock = LockSeam{.initialise = LockNothing, .enter = LockEnter, .leave = LockLeave, .remove = LockNothing};
}

void ConsoleInterruptsInstall() {
    struct sigaction action = {};
    action.sa_handler = CountInterrupt;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a read of the answer to a question returns, so that
    // Ctrl+C at the prompt is not held up until the Enter key.
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A closed terminal or SSH session: the device is no less half-written.
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    // A file-size limit (ulimit -f) reached by the log or a redirected
    // output: the write fails, and is noted, as on a full disk.
    signal(SIGXFSZ, SIG_IGN);
}

unsigned ConsoleInterruptCount() { return static_cast<unsigned>(gInterrupts); }

bool ConsoleClosing() { return false; }

bool ConsoleReadYes() {
    // Polled in short steps, so that a stop request that comes just before
    // the read (when a signal cannot interrupt it) is still seen.
    constexpr int STEP_MS = 50;
    int first = 0;  // the first character other than a blank
    for (;;) {
        if (ConsoleInterruptCount() > 0) return false;
        pollfd input{STDIN_FILENO, POLLIN, 0};
        const int ready = poll(&input, 1, STEP_MS);
        if (ready == 0 || (ready < 0 && errno == EINTR)) continue;
        if (ready < 0) return false;
        char c = 0;
        const ssize_t got = read(STDIN_FILENO, &c, 1);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0 || c == '\n') break;
        if (first == 0 && c != ' ' && c != '\t') first = c;
    }
    return ConsoleInterruptCount() == 0 && (first == 'y' || first == 'Y');
}

void ConsoleRunEnded() {}

bool ConsoleIsTerminal(std::FILE* file) { return isatty(fileno(file)) == 1; }

void ConsoleUtf8Arguments(int*, char***) {}

std::FILE* ConsoleOpenFile(const char* path, const char* mode) { return std::fopen(path, mode); }

void ConsoleWrite(std::FILE* out, const char* text) { std::fputs(text, out); }

void ConsolePlatformInstall(ConsoleAnswers answers, std::FILE* out) {
    gAnswers = answers;
    gOut = out;
    gUi = UiSeam{.messageBox = ConsoleMessageBox, .drawText = ConsoleDrawText};
    ConsoleSystemInstall();
}
