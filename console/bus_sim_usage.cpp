// The simulated bus's part of --help.
#include "console/bus.h"

const char BUS_USAGE[] =
    "\n"
    "The simulated device (Linux):\n"
    "  --type 0xNN           device type, 0..255 (default: the image's type; 0x81..0x86 are known)\n"
    "  --bootloader          the device starts in its bootloader (default: in its application)\n"
    "  --installed VERSION   installed application version (default 0.90)\n"
    "  --no-valid-app        the device holds no valid application\n"
    "  --no-device           no device attached\n"
    "  --fault KIND:N        one fault at the Nth packet sent; KIND is one of fail-status missing-reply\n"
    "                        late-reply partial-reply bad-ack wrong-checksum vanish short-read\n"
    "                        flipped-bit\n"
    "  --reply-delay MS      the device's time to answer a command, 0..10000 (default 1)\n"
    "  --erase-delay MS      added time to erase a page, 0..10000 (default 20)\n"
    "  --restart-delay MS    its time off the bus when it restarts, 0..600000 (default 500)\n"
    "  --more-devices LIST   more devices after the first, comma-separated, each KIND[:TYPE[:VERSION]]:\n"
    "                        KIND application, bootloader or unknown, with its own device type and\n"
    "                        installed version (default: the first device's), at most 7\n"
    "  --sim-summary         at the end, one JSON line per device on standard error: what its flash\n"
    "                        holds and which packets it was sent\n"
    "--no-device conflicts with every option that shapes a device.\n";
