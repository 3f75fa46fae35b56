// The window program's support log filled as the console program's --log
// is: the run recorder and JSON writer of runlog/ write every run into
// %LOCALAPPDATA%\Lumaris Update\support-log.jsonl (app/support_log.h), its
// lines naming "program":"window". The window itself shows only the events
// it posts (app/window_events.h): the recorder hands each event to it and to
// the JSON writer alike.
#pragma once

#include <string>

// The folder a run's log goes to, asked for when the run begins; empty for
// no log. The program gives the user's (app/support_log_win32.h), a test a
// folder of its own.
using SupportLogFolderSource = std::string (*)();

// Start-up: the recorder as the core's sink (gEvents), handing each event to
// the window and to the JSON writer. `programVersion` is named in the log.
void InstallWindowLog(const char* programVersion, SupportLogFolderSource folder);

// Start-up, once the USB library was looked for: its path when it was
// bound, else why not (in the console program's words). A run without it is
// logged as the outcome no-library, naming that reason.
void WindowLogKnowLibrary(const std::string& path, const std::string& problem);

// On the worker thread, before and after UpdateWorker: a fresh record, and
// when the log can be kept, the run's first line (run_started) and its last
// (result). Whatever becomes of the log, the run goes on as without it.
// Without InstallWindowLog both do nothing.
void WindowLogRunBegins();
void WindowLogRunEnds();
