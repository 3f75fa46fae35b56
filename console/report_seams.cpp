#include "console/report_seams.h"

#include "console/report_hub.h"
#include "console/system/console_output.h"
#include "console/system/console_platform.h"
#include "console/terminal.h"
#include "platform/seams.h"
#include "runlog/recorder.h"
#include "runlog/text.h"
#include "usb/usb_access.h"

namespace {

ReportSettings gSettings{};

// A write or read that failed outright may mean that the device left the
// bus: the console asks the bus itself (the core does not, so that the
// window program's library calls are its own), and names that cause.
ExchangeFailure WithCause(const ExchangeFailure& reported) {
    ExchangeFailure failure = reported;
    if (failure.fault != ExchangeFault::WriteFailed && failure.fault != ExchangeFault::ReadFailed) return failure;
    uint32_t count = 0;
    if (LockedDeviceCount(&count) != USB_OK || count < failure.devicesCounted)
        failure.fault = ExchangeFault::DeviceGone;
    return failure;
}

// The core's sink: a held box goes out first, then the event, with the
// console's cause of a failed exchange, to the recorder and the writers.
void ReportEvent(const UpdateEvent& event) {
    RepeatedBoxesFlush();
    if (const auto* failed = std::get_if<ExchangeFailed>(&event))
        return RecorderTake(ExchangeFailed{WithCause(failed->failure)});
    RecorderTake(event);
}

// Asks on standard input; anything but y or Y (an empty line, the end of
// the input, a stop request) is No.
int AskTerminal() {
    StdoutTerminal().EndProgress();
    ConsoleOutputPut(gSettings.json ? ConsoleStream::Err : ConsoleStream::Out, "answer [y/N]: ", false);
    return ConsoleReadYes() ? ANSWER_YES : ANSWER_NO;
}

int ReportBox(const wchar_t* text, const wchar_t* caption, unsigned style) {
    BoxShown box{
        text, WideLength(text), caption, WideLength(caption), style, (style & 0x0F) == BOX_YESNO, ANSWER_OK, "", 1};
    if (box.question) {
        switch (gSettings.answers) {
            case ConsoleAnswerMode::Yes:
                box.answer = ANSWER_YES;
                box.answeredBy = " (--yes)";
                break;
            case ConsoleAnswerMode::No:
                box.answer = ANSWER_NO;
                box.answeredBy = " (--no)";
                break;
            case ConsoleAnswerMode::Unset:
                if (gSettings.stdinIsTerminal) {
                    box.answer = AskTerminal();
                } else {
                    box.answer = ANSWER_NO;
                    box.answeredBy = " (no terminal to ask)";
                }
                break;
        }
    }
    RepeatedBoxesTake(box);
    return box.answer;
}

void ReportText(int x, int y, const wchar_t* text, int count) {
    ForEachReportWriter([&](const RunWriter& w) { w.text(x, y, text, count > 0 ? static_cast<size_t>(count) : 0); });
}

void ReportLoaderLine(const char* text) {
    ForEachReportWriter([&](const RunWriter& w) { w.loaderLine(text); });
}

}  // namespace

void ReportSeamsInstall(const ReportSettings& settings) {
    gSettings = settings;
    gEvents = ReportEvent;
    gUi = UiSeam{.messageBox = ReportBox, .drawText = ReportText};
    gOutput = OutputSeam{ReportLoaderLine};
}
