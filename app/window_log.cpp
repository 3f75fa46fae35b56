#include "app/window_log.h"

#include <windows.h>

#include "app/support_log.h"
#include "app/support_log_win32.h"
#include "app/window_events.h"
#include "image/image_facts.h"
#include "platform/run_identity.h"
#include "platform/seams.h"
#include "runlog/json_writer.h"
#include "runlog/recorder.h"
#include "runlog/run_result.h"
#include "runlog/text.h"

namespace {

// Worker thread only, once installed (one run at a time).
bool gInstalled = false;
SupportLogFolderSource gFolder = nullptr;
SupportLog gLog;
RunRecord gWindowRecord;
RunContext gContext;
DWORD gRunStart = 0;
// The window shows what it shows of each event once the recorder has kept
// it; the JSON writer logs them all.
const RunWriter WINDOW_WRITER = {.event = ShowWindowEvent};
const RunWriter* gWriters[2] = {&WINDOW_WRITER, &JSON_WRITER};
// The embedded image's version and SHA-256, read once.
bool gImageKnown = false;
bool gLibraryMissing = false;

uint32_t ElapsedMs() { return GetTickCount() - gRunStart; }

void PutLine(const std::string& line, bool) { SupportLogPut(gLog, line); }

// The image as the console program names it.
void KnowImage() {
    if (gImageKnown) return;
    const ImageFacts image = ReadImageFacts();
    gContext.imageVersion = image.loaded ? FormatVersion(image.summary.verHi, image.summary.verLo) : "not loaded";
    gContext.imageSha256 = image.sha256;
    gImageKnown = true;
}

void StartRecorder() { RecorderInstall(RecorderSetup{&gWindowRecord, gWriters, 2}); }

}  // namespace

void InstallWindowLog(const char* programVersion, SupportLogFolderSource folder) {
    gContext.program = "window";
    gContext.programVersion = programVersion;
    gFolder = folder;
    // Boxes, texts and the loader's line stay out of the log, as in the
    // console program's --log without -v.
    JsonWriterStart(JsonWriterSetup{{&gWindowRecord, &gContext, ElapsedMs}, nullptr, PutLine, false});
    StartRecorder();
    // The window adds nothing to an event: the core's sink is the recorder.
    gEvents = RecorderTake;
    gInstalled = true;
}

void WindowLogKnowLibrary(const std::string& path, const std::string& problem) {
    gContext.usbLibrary = path;
    gContext.usbLibraryProblem = problem;
    gLibraryMissing = !problem.empty();
}

void WindowLogRunBegins() {
    if (!gInstalled) return;
    gRunStart = GetTickCount();
    gContext.runId = NewRunId();
    gContext.host = HostName();
    StartRecorder();
    SupportLogSetFolder(gLog, gFolder ? gFolder() : std::string(), WIN32_SUPPORT_LOG_FILE_SYSTEM);
    if (!SupportLogBeginRun(gLog)) return;
    KnowImage();
    JsonWriteRunStarted(nullptr, 0);
}

void WindowLogRunEnds() {
    if (!gInstalled) return;
    // Without the library every call failed: the run never reached a
    // device, whatever the record of its failed calls suggests.
    const RunResult result =
        gLibraryMissing
            ? MakeResult(Outcome::NoLibrary, DeviceState::Unknown, gContext.usbLibraryProblem + ": nothing was written")
            : DecideResult(RunCommand::Update, gWindowRecord, RunRequest{.words = &PLAIN_RESULT_WORDS});
    if (gLog.open) JSON_WRITER.result(RunCommand::Update, result);
    SupportLogEndRun(gLog);
}
