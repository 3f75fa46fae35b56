// The console platform: the clock and the lock of the console program on
// the operating system it runs on (POSIX or Windows), and, on Linux, a
// complete platform that prints every box and text as one line (the
// benchmarks use it).
#pragma once

#include <cstdio>

// Call first, before any file is opened. A standard stream the program was
// started without (`>&-`, `2>&-`, `<&-`, or no handle from the parent on
// Windows) must neither hand its place to a file the program opens, which
// would then receive the screen's lines, nor be written. On POSIX such a
// stream's descriptor is opened on /dev/null. On Windows a file never takes
// a standard stream's descriptor (the log is a handle of its own); a stream
// without a valid handle is remembered, and ConsoleWrite writes nothing to
// it. On POSIX, SIGXFSZ is ignored from here on: a write past a file-size
// limit fails instead of ending the program.
void ConsoleStandardStreamsStart();

// Sets gClock (milliseconds of a steady clock, a real sleep) and gUsbLock
// (a real lock). Leaves gUi as it is: the front end puts its own there.
void ConsoleSystemInstall();

// Whether `file` is a terminal.
bool ConsoleIsTerminal(std::FILE* file);

// Text passes through the console program as UTF-8; these three are where
// it meets the system.
// Points `argv` at the command line's arguments in UTF-8. On Windows they
// are read from the wide command line (the narrow argv holds each argument
// in the ANSI code page, which turns a character it lacks into another);
// elsewhere argv stays as it is.
void ConsoleUtf8Arguments(int* argc, char*** argv);
// fopen by a UTF-8 path: on Windows the file of that wide name.
std::FILE* ConsoleOpenFile(const char* path, const char* mode);
// Writes UTF-8 `text` to `out`: to a Windows console as UTF-16
// (WriteConsoleW), whatever its code page; redirected, or elsewhere, as the
// bytes themselves. The caller flushes.
void ConsoleWrite(std::FILE* out, const char* text);

// Counts the requests to stop: Ctrl+C and SIGINT, SIGTERM, SIGHUP (a closed
// terminal), and on Windows Ctrl+Break and the console window's close. The
// handlers only count. A closed pipe on standard output, or a file-size limit
// reached by a file written, is not a reason to end the program: SIGPIPE and
// SIGXFSZ are ignored, and the write fails instead.
void ConsoleInterruptsInstall();
unsigned ConsoleInterruptCount();
// Whether the console window is being closed (Windows): the system ends the
// process about 5 s after the close, whatever it is doing.
bool ConsoleClosing();
// The program has written its result: a pending close may end it now.
void ConsoleRunEnded();

// Reads one answer line from standard input: true when its first character
// other than a blank is y or Y. An empty line, the end of the input and a
// stop request (before or during the read) all read as No: a Ctrl+C at the
// question is never held up until the Enter key.
bool ConsoleReadYes();

enum class ConsoleAnswers { AskStdin, Yes, No };

// ConsoleSystemInstall, and a gUi that prints every box and every text as
// one line to `out` and answers questions from `answers`. Not on Windows.
void ConsolePlatformInstall(ConsoleAnswers answers, std::FILE* out);
