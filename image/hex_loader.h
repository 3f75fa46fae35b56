// Loading Intel HEX text into the flash image of an update run.
#pragma once

#include <cstddef>
#include <cstdint>

#include "job/update_job.h"

// Flash addresses that a HEX data byte may have: pages 10..125.
constexpr uint32_t LOAD_FIRST_ADDRESS = 0x1400;
constexpr uint32_t LOAD_LAST_ADDRESS = 0xFBFF;

// One byte from two characters in text order. '0'-'9' and 'A'-'F' are
// digits; every other character, lower case and the zero byte included,
// counts as the digit 0.
uint8_t HexPairToByte(uint8_t first, uint8_t second);

// Loads the plain HEX text plain[0 .. length-1] into job.ImageBuffer and
// job.PageMap: every data byte at its address, and the page of every stored
// byte marked. The text holds records of the form
//   ':' count(2) address(4) type(2) data(2*count) checksum(2)
// with exactly one separator character after each record. Records of type 00
// (data) and 01 (end) only; addresses 0x1400..0xFBFF only; every data
// record's checksum must bring its byte sum to 0.
// Returns true at an end record, at a record mark whose first nine characters
// reach exactly to the end of the text, or when a data record ends at the
// last or last-but-one character. Returns false on any other text, and never
// reads outside it. The caller fills ImageBuffer and clears PageMap first;
// after a false result both hold whatever was stored before the fault.
bool LoadHexText(UpdateJob& job, const uint8_t* plain, size_t length);

// Descrambles the embedded image and loads it with LoadHexText. The embedded
// text itself never changes, so every run in the process loads the same image.
// Writes "Working  " as a line to gOutput (standard output) first. Runs on the worker thread;
// a load that starts while another is running returns false.
bool LoadHexImage(UpdateJob& job);
