#pragma once
/* Pelkio: finds the hand-switch boards on the USB bus and exchanges 8-byte
 * commands and short input reports with them. */
#ifdef __cplusplus
extern "C" {
#endif

int InitBoard(void);

#ifdef __cplusplus
}
#endif
