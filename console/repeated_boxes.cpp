#include "console/repeated_boxes.h"

#include <cwchar>

namespace {

BoxWrite gWrite = [](const BoxShown&) {};
bool gHeld = false;
BoxShown gHeldBox{};

bool SameBox(const BoxShown& a, const BoxShown& b) {
    return !a.question && !b.question && a.style == b.style && a.textLength == b.textLength &&
           a.captionLength == b.captionLength && std::wmemcmp(a.text, b.text, a.textLength) == 0 &&
           std::wmemcmp(a.caption, b.caption, a.captionLength) == 0;
}

}  // namespace

void RepeatedBoxesStart(BoxWrite write) {
    gWrite = write;
    gHeld = false;
}

void RepeatedBoxesTake(const BoxShown& box) {
    if (gHeld && SameBox(gHeldBox, box)) {
        ++gHeldBox.count;
        return;
    }
    RepeatedBoxesFlush();
    if (box.question) return gWrite(box);
    gHeldBox = box;
    gHeldBox.count = 1;
    gHeld = true;
}

void RepeatedBoxesFlush() {
    if (!gHeld) return;
    gHeld = false;
    gWrite(gHeldBox);
}
