#pragma once
/*
 * The simulated boards of libPelkio.so: the hand-switch board without the
 * hardware, for trying the station's trigger modes on one desk.
 *
 * With PelkioSim_SetBoards(n), n > 0, the library keeps n simulated boards on
 * a bus of its own. Every enumeration (InitBoard, and the one a read export
 * runs by itself) lists the real boards first; only when no real board could
 * be opened does it take the simulated ones. So a real board that is plugged
 * in wins at the next enumeration, and the simulated ones come back when it is
 * unplugged. A simulated board behaves as a real one towards the exports: it
 * takes every command, keeps the outputs of the last write command, and
 * answers each read request with an input report whose first byte carries its
 * hand switch (bit 0 ready, bit 1 expose, 0 = pressed). It answers at once.
 *
 * Nothing is simulated until PelkioSim_SetBoards is called: the program calls
 * it at start with [SIMULATOR] BOARDS of its ORVI2.ini. A backend set with
 * PelkioSetBackend (tests) takes the place of the real boards; the simulated
 * ones stay behind it.
 *
 * Like every Pelkio call, these must not run during another Pelkio call.
 */
#include "usbio/Pelkio.h"

#define PELKIO_SIM_MAX_BOARDS 2

/* Hand switch stages. */
#define PELKIO_SIM_RELEASED 0
#define PELKIO_SIM_READY 1  /* first stage pressed */
#define PELKIO_SIM_EXPOSE 2 /* pressed through to the second stage */

#ifdef __cplusplus
extern "C" {
#endif

/* Replaces the simulated boards by n fresh ones (hand switch released, outputs
 * off); n is brought into 0 .. PELKIO_SIM_MAX_BOARDS. Boards open from an
 * earlier enumeration are released. Returns the number now simulated. */
PELKIO_API int32_t PelkioSim_SetBoards(int32_t n);

/* The number of simulated boards (0 = none). */
PELKIO_API int32_t PelkioSim_Boards(void);

/* 1 when the boards the last enumeration opened are the simulated ones, 0 when
 * they are real (or none was found). */
PELKIO_API int32_t PelkioSim_InUse(void);

/* Sets the hand switch of simulated board b (0-based) to a stage above.
 * Returns 1, or 0 for a board or stage that does not exist. */
PELKIO_API int32_t PelkioSim_SetHandSwitch(int32_t board, int32_t stage);

/* The stage of board b's hand switch, or -1 for a board that does not exist. */
PELKIO_API int32_t PelkioSim_GetHandSwitch(int32_t board);

/* The output bytes last written to simulated board b (write command 4: output
 * byte 1 = its byte 3, output byte 2 = its byte 2). Returns 1 when the board
 * took a write, 0 before the first (the bytes are then 0xFF, all off) or for a
 * board that does not exist. A null pointer is skipped. */
PELKIO_API int32_t PelkioSim_GetOutputs(int32_t board, uint8_t* out1, uint8_t* out2);

#ifdef __cplusplus
}
#endif
