#pragma once
/* The detector's acquisition and correction library. */
#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif
