// Binding of the USB device library on Windows.
#pragma once

// Loads SiUSBXp.dll from the program's own folder or the system folder
// (never from the current directory) and fills gUsb by ordinal. On a
// missing library or any missing ordinal nothing is bound: every operation
// keeps failing with USB_NOT_BOUND. Returns whether the table was bound.
bool BindUsbLibrary();
