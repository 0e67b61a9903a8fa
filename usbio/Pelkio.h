#pragma once
/*
 * Pelkio: the hand-switch and lamp boards on the USB bus (libPelkio.so).
 *
 * A board is a HID device with vendor id 0xFFFF and product id 0x0002. The
 * library keeps a table of up to PELKIO_MAX_BOARDS boards, numbered 0, 1, 2 ...
 * in the order the system lists them, and exchanges fixed 8-byte commands and
 * short input reports with them. The plain exports use board 0; the Ex forms
 * take the board number first.
 *
 * Arguments and results
 *   All results are 32-bit integers. p1 to p3 are taken from the low 16 bits of
 *   their arguments; p4, p5 and d1 to d4 from the low 8 bits. A board number
 *   outside 0 .. PELKIO_MAX_BOARDS - 1, or of a board that is not open, makes a
 *   call fail at once with 0 (the read exports first enumerate again, below).
 *
 * Commands (8 bytes; byte 0 is the code). Each is sent as a 9-byte output
 * report: report id 0, then the 8 command bytes. Bytes not listed are 0.
 *   1  PortConfigure, first step:  1 p1 low, 2 p1 high, 3 p2 low, 4 p2 high,
 *                                  5 p3 low, 6 p3 high
 *   2  PortConfigure, second step: 1 p5, 2 p4, 3 to 6 as in the first step
 *   3  PortRead request:           no parameters
 *   4  PortWrite:                  1 d1, 2 d2, 3 d3, 4 d4
 *   5  Port1Write:                 1 d1, 2 d2, 3 to 7 bytes 3 to 7 of the
 *                                  input report read just before
 *
 * Reports
 *   Input reports: byte 0 is the report id (0: the board's reports are not
 *   numbered, and the system hands them over without an id, so the library
 *   puts the 0 in front), bytes 1 to 5 are the five values the read exports
 *   return. At most PELKIO_INPUT_REPORT_BYTES bytes of a report are taken;
 *   longer reports are cut. The system offers no HID capability record here,
 *   so the lengths are fixed: output reports are PELKIO_OUTPUT_REPORT_BYTES
 *   long, and the board's reports are expected to fit these sizes.
 *
 * Time limit
 *   Every write and every read waits at most PELKIO_TIMEOUT_MS. A write or read
 *   that times out or fails (a silent or unplugged board) closes the board's
 *   handle and marks its table entry closed: later calls on that board fail at
 *   once without touching the device, and nothing is closed twice. The read
 *   exports re-enumerate by themselves; the write and configure exports return
 *   0 until InitBoard is called again.
 *
 * InitBoard
 *   Releases every handle the previous enumeration opened, then lists the HID
 *   devices with the board's ids and opens each by its path, in the system's
 *   order. It stops at PELKIO_MAX_BOARDS boards. Devices with other ids are
 *   never opened: their ids come with the listing. A listed board that cannot
 *   be opened (for example for lack of permission on its hidraw node) is
 *   skipped and takes no number; a device listed twice is opened once.
 *
 * Reads
 *   PortRead(Ex) sends the read request (command 3). If the request cannot be
 *   written, it runs InitBoard and, when a board is found, sends the request
 *   again to the freshly opened board. Then it reads one input report. It
 *   returns 1 only when a report arrived; then o1 to o5 hold its bytes 1 to 5.
 *   Otherwise it returns 0 and o1 to o5 are 0. A null output pointer is skipped.
 *
 * Port1Write(Ex)
 *   Reads the board's input report as PortRead(Ex) does and, when one arrived,
 *   writes command 5 to the same board. Returns 1 if command 5 was written, else
 *   0 (without a report nothing is written). Port1Write uses board 0,
 *   Port1WriteEx the given board.
 *
 * Threads
 *   The library takes no lock: the caller serialises its calls. No two calls may
 *   run at the same time, whether for the same board or not.
 *
 * Tests and tools can put another HID backend under these exports with
 * PelkioSetBackend (usbio/HidBackend.h). Nothing needs to be set in
 * production: the library uses hidapi on hidraw.
 */
#include <stdint.h>

#if defined(__GNUC__)
#define PELKIO_API __attribute__((visibility("default")))
#else
#define PELKIO_API
#endif

#define PELKIO_VENDOR_ID 0xFFFF
#define PELKIO_PRODUCT_ID 0x0002
#define PELKIO_MAX_BOARDS 10
#define PELKIO_TIMEOUT_MS 1000
#define PELKIO_COMMAND_BYTES 8
#define PELKIO_OUTPUT_REPORT_BYTES 9
#define PELKIO_INPUT_REPORT_BYTES 12

#ifdef __cplusplus
extern "C" {
#endif

/* Enumerates the boards; returns how many were found and opened (0 = none). */
PELKIO_API int32_t InitBoard(void);

/* Commands 1 and 2; command 2 is sent only after command 1 was written.
 * Returns 1 if both were written, else 0. */
PELKIO_API int32_t PortConfigure(int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5);
PELKIO_API int32_t PortConfigureEx(int32_t board, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5);

/* Read request and one input report; 1 when a report arrived (see Reads). */
PELKIO_API int32_t PortRead(uint8_t* o1, uint8_t* o2, uint8_t* o3, uint8_t* o4, uint8_t* o5);
PELKIO_API int32_t PortReadEx(int32_t board, uint8_t* o1, uint8_t* o2, uint8_t* o3, uint8_t* o4, uint8_t* o5);

/* Command 4; 1 if written, else 0. */
PELKIO_API int32_t PortWrite(int32_t d1, int32_t d2, int32_t d3, int32_t d4);
PELKIO_API int32_t PortWriteEx(int32_t board, int32_t d1, int32_t d2, int32_t d3, int32_t d4);

/* Read, then command 5; 1 if command 5 was written, else 0. */
PELKIO_API int32_t Port1Write(int32_t d1, int32_t d2);
PELKIO_API int32_t Port1WriteEx(int32_t board, int32_t d1, int32_t d2);

#ifdef __cplusplus
}
#endif
