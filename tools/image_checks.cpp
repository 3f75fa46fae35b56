#include "tools/image_checks.h"

#include <string>

#include "image/image_signature.h"
#include "tools/generated_files.h"

namespace {

// The last page of each device type 0x81..0x86, as the device type table in
// devicelink/ holds it: the device keeps its signature and version there.
constexpr uint8_t TYPE_LAST_PAGE[] = {29, 29, 62, 124, 62, 124};

}  // namespace

ImageSignature CheckSignature(const ParsedImage& image, Findings& findings) {
    ImageSignature s;
    s.page = HighestUsedPage(image.pageMap);
    if (s.page == 0) {
        findings.Report(true, image.endLine ? image.endLine : image.lastLine, "the image holds no data bytes");
        return s;
    }
    const size_t base = s.page * PAGE_SIZE;
    size_t highestLine = 0;
    for (size_t a = base + PAGE_SIZE; a-- > base;)
        if (image.lineOf[a] != 0) {
            highestLine = image.lineOf[a];
            break;
        }
    if (!IsSignaturePage(s.page)) {
        findings.Report(true, highestLine,
                        "the highest used page is %zu (0x%04zX..0x%04zX), it must be 29, 62 or 124, the last page "
                        "of a device type",
                        s.page, base, base + PAGE_SIZE - 1);
        return s;
    }
    bool typesLastPage = false;  // the page where the device keeps its signature
    const size_t typeAt = base + SIGNATURE_TYPE_OFFSET;
    s.type = image.bytes[typeAt];
    if (image.lineOf[typeAt] == 0) {
        findings.Report(true, highestLine, "the device type byte at 0x%04zX (offset 0x1FB of page %zu) is not covered",
                        typeAt, s.page);
    } else if (!IsKnownImageType(s.type)) {
        findings.Report(true, image.lineOf[typeAt], "device type byte 0x%02X at 0x%04zX lies outside 0x%02X..0x%02X",
                        s.type, typeAt, IMAGE_TYPE_FIRST, IMAGE_TYPE_LAST);
    } else {
        const size_t typeLastPage = TYPE_LAST_PAGE[s.type - IMAGE_TYPE_FIRST];
        typesLastPage = s.page == typeLastPage;
        if (s.page > typeLastPage)
            findings.Report(true, highestLine,
                            "the highest used page %zu lies above page %zu, the last page of device type 0x%02X: "
                            "the updater refuses it",
                            s.page, typeLastPage, s.type);
        else if (s.page < typeLastPage)
            findings.Report(true, highestLine,
                            "the highest used page %zu is not page %zu, where a device of type 0x%02X keeps its "
                            "signature and version: the device's pages %zu..%zu would keep their old content, and "
                            "page %zu would get the signature without a version",
                            s.page, typeLastPage, s.type, s.page + 1, typeLastPage - 1, typeLastPage);
    }
    const size_t hiAt = base + SIGNATURE_VERSION_HI_OFFSET, loAt = base + SIGNATURE_VERSION_LO_OFFSET;
    s.verHi = image.bytes[hiAt];
    s.verLo = image.bytes[loAt];
    const bool hiCovered = image.lineOf[hiAt] != 0, loCovered = image.lineOf[loAt] != 0;
    if (!hiCovered && !loCovered) {
        findings.Report(false, highestLine,
                        "the version bytes at 0x%04zX, 0x%04zX are not covered: the updater will ask before "
                        "programming this image",
                        hiAt, loAt);
    } else if (hiCovered != loCovered && !(s.verHi == 0xFF && s.verLo == 0xFF)) {
        // The byte left out reads as 0xFF: a version, not "no version".
        const std::string version = VersionText(s.verHi, s.verLo);
        findings.Report(true, image.lineOf[hiCovered ? hiAt : loAt],
                        "only one of the version bytes at 0x%04zX, 0x%04zX is covered (0x%04zX is not): the updater "
                        "reads the version as %s and programs this image without asking over any installed version "
                        "up to %s",
                        hiAt, loAt, hiCovered ? loAt : hiAt, version.c_str(), version.c_str());
    } else if (s.verHi == 0xFF && s.verLo == 0xFF)
        findings.Report(false, image.lineOf[hiCovered ? hiAt : loAt],
                        "the version bytes at 0x%04zX, 0x%04zX are FF FF, which the updater reads as no version: it "
                        "will ask before programming this image",
                        hiAt, loAt);
    // The device writes its signature there after every page: they must
    // still be erased then, or the update can never complete.
    for (size_t a = base + DEVICE_SIGNATURE_OFFSET; typesLastPage && a < base + PAGE_SIZE; ++a)
        if (image.bytes[a] != 0xFF)
            findings.Report(true, image.lineOf[a],
                            "byte 0x%02X at 0x%04zX: the device writes its application signature into the last two "
                            "bytes of page %zu, which an image must leave out (or set to 0xFF): the updater refuses it",
                            image.bytes[a], a, s.page);
    return s;
}
