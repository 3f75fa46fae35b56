// The bootloader's command protocol: one packet at a time, each answered by a
// short reply except CMD_RUN. Every operation works on the job's open device.
#pragma once

#include <cstdint>

#include "events/update_events.h"
#include "job/update_job.h"

constexpr uint8_t CMD_GET_INFO = 0x00;
constexpr uint8_t CMD_SET_PAGE = 0x01;
constexpr uint8_t CMD_ERASE_PAGE = 0x02;
constexpr uint8_t CMD_WRITE_HALF = 0x03;
constexpr uint8_t CMD_RUN = 0x05;
constexpr uint8_t CMD_SET_FLASH_KEY = 0x06;
constexpr uint8_t CMD_WRITE_SIGNATURE = 0x07;

constexpr uint32_t INFO_REPLY_LENGTH = 9;
constexpr uint32_t HALF_PAGE_SIZE = 256;
constexpr uint32_t WRITE_HALF_PACKET_LENGTH = 2 + HALF_PAGE_SIZE;

// The signature that marks the application valid. The device reports it
// high byte first; CMD_WRITE_SIGNATURE carries it low byte first.
constexpr uint16_t APP_SIGNATURE = 0x3DC2;

// How long a reply may take to be waiting in the receive queue, counted
// afresh for every reply.
constexpr uint32_t REPLY_WINDOW_MS = 100;

// Reports a failed exchange as an ExchangeFailed event. It makes no
// library call: whether a failed write or read means that the device left
// the bus is for a front end that wants to know to ask.
void ReportExchangeFailure(const UpdateJob& job, DeviceCommand command, uint32_t page, ExchangeFault fault,
                           uint32_t detail, uint32_t expected);

// Sends CMD_GET_INFO and decodes the 9-byte reply into job.info. Shows the
// "Error" box when no device is open, when the write fails and when the read
// fails; a reply that is not complete within its window, or a failed queue
// query, gives false without a box (the caller shows its own).
bool ReadDeviceInfo(UpdateJob& job);

bool SelectPage(UpdateJob& job, uint8_t page);
// Selects `page` and erases it.
bool ErasePage(UpdateJob& job, uint8_t page);
// Erases `page` and writes its two 256-byte halves from `image`. On success
// `checksum` holds the device's checksum of the page as it now holds it.
// Any missing, late or failed reply makes the result false.
bool ProgramPage(UpdateJob& job, const uint8_t (&image)[IMAGE_SIZE], uint8_t page, uint32_t& checksum);
// Does not test the handle: its caller does.
bool SetFlashKey(UpdateJob& job, uint8_t first, uint8_t second);
bool WriteSignature(UpdateJob& job);
// Tells the device to start its application. Nothing comes back.
void RunApplication(UpdateJob& job);
